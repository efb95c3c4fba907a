// Build-time tool: draws the application's SVG icon as PNGs at the hicolor theme's sizes.

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        std::cerr << "usage: " << argv[0] << " ICON.svg OUTPUT_FOLDER SIZE...\n";
        return 2;
    }
    // Without DISPLAY, JUCE falls back to ":0.0": drawing needs no X server, so name none.
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0)
        ::setenv("DISPLAY", ":-1", 1);
    juce::ScopedJuceInitialiser_GUI juce;
    const auto cwd = juce::File::getCurrentWorkingDirectory();
    auto svg = juce::XmlDocument::parse(cwd.getChildFile(argv[1]));
    auto drawable = svg != nullptr ? juce::Drawable::createFromSVG(*svg) : nullptr;
    if (drawable == nullptr)
    {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 1;
    }
    const auto out = cwd.getChildFile(argv[2]);
    for (int i = 3; i < argc; ++i)
    {
        const int size = juce::String(argv[i]).getIntValue();
        juce::Image image(juce::Image::ARGB, size, size, true);
        {
            juce::Graphics g(image);
            drawable->drawWithin(g, juce::Rectangle<float>(0.0f, 0.0f, float(size), float(size)),
                                 juce::RectanglePlacement::centred, 1.0f);
        }
        const auto file = out.getChildFile(juce::String(size) + "x" + juce::String(size))
                              .getChildFile("apps")
                              .getChildFile("com.kavix.sorvane.png");
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        juce::FileOutputStream stream(file);
        if (!stream.openedOk() || !juce::PNGImageFormat().writeImageToStream(image, stream))
        {
            std::cerr << "cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
    }
    return 0;
}

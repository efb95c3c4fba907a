#include "social/FrameRenderer.h"

#include "capture/DurableFile.h"

#include <algorithm>
#include <cmath>

namespace sorvane
{
namespace
{
constexpr double twoPi = juce::MathConstants<double>::twoPi;

float clamp01(double v)
{
    return static_cast<float>(juce::jlimit(0.0, 1.0, v));
}

juce::Path closedCurve(const std::vector<juce::Point<float>>& points)
{
    juce::Path path;
    for (size_t i = 0; i < points.size(); ++i)
        i == 0 ? path.startNewSubPath(points[i]) : path.lineTo(points[i]);
    path.closeSubPath();
    return path;
}

void drawBeams(juce::Graphics& g, float w, float h, float d, float m)
{
    for (int i = 0; i < 8; ++i)
    {
        const float xi = (static_cast<float>(i) + 0.5f) * w / 8.0f;
        juce::Path beam;
        beam.addTriangle(w / 2.0f, 0.08f * h, xi - 0.105f * d, h, xi + 0.105f * d, h);
        g.setColour(socialColours::withAlphaFraction(
            i % 3 == 0 ? socialColours::cyan : socialColours::magenta, 0.035 + 0.035 * m));
        g.fillPath(beam);
    }
}

void drawSpectralFlux(juce::Graphics& g, float w, float h, float s, float m, const ScopeVisualInputs& in)
{
    const double rate = in.parameter(ScopeVisualInputs::spectralRate);
    const float step = w / 48.0f;
    const float barWidth = std::max(step - 3.0f * s, 1.0f);
    const juce::Colour colours[] = {socialColours::cyan, socialColours::violet, socialColours::magenta};
    for (int j = 0; j < 48; ++j)
    {
        const double fraction = j / 48.0;
        const double height =
            h * juce::jlimit(0.08, 0.72,
                             0.24 + 0.34 * std::abs(std::sin(twoPi * fraction * (2.0 + 5.0 * rate))) +
                                 m * (0.16 + 0.22 * std::sin(31.0 * fraction)));
        g.setColour(socialColours::withAlphaFraction(colours[j % 3], 0.11 + 0.08 * m));
        g.fillRect(juce::Rectangle<float>(j * step, static_cast<float>(h / 2.0 - height / 2.0), barWidth,
                                          static_cast<float>(height)));
    }
}

void drawVectorBloom(juce::Graphics& g, float cx, float cy, float radius, float s, float m,
                     const ScopeVisualInputs& in)
{
    const double division = in.parameter(ScopeVisualInputs::division);
    const double ringFreq = in.parameter(ScopeVisualInputs::ringFreq);
    for (int j = 0; j < 7; ++j)
    {
        std::vector<juce::Point<float>> points;
        points.reserve(361);
        for (int k = 0; k <= 360; ++k)
        {
            const double theta = twoPi * k / 360.0;
            const double x =
                cx + radius * std::sin(theta * (2.0 + 3.0 * division) + 0.37 * j) * (0.72 + 0.045 * j);
            const double y =
                cy + radius * std::sin(theta * (3.0 + 4.0 * ringFreq) - 1.3 * 0.37 * j) * (0.72 + 0.3 * m);
            points.push_back({static_cast<float>(x), static_cast<float>(y)});
        }
        g.setColour(socialColours::withAlphaFraction(
            j % 2 == 0 ? socialColours::cyan : socialColours::magenta, 0.12 + 0.08 * m));
        g.strokePath(closedCurve(points), juce::PathStrokeType(s * (2.0f + 0.35f * static_cast<float>(j))));
    }
}

void drawTresselRings(juce::Graphics& g, float cx, float cy, float radius, float d, float s, float m,
                      const ScopeVisualInputs& in)
{
    g.setColour(socialColours::withAlphaFraction(socialColours::magenta, 0.11 + 0.18 * m));
    g.fillEllipse(cx - 0.9f * radius, cy - 0.9f * radius, 1.8f * radius, 1.8f * radius);

    g.setColour(socialColours::withAlphaFraction(socialColours::cyan, 0.16 + 0.24 * m));
    g.drawEllipse(cx - radius, cy - radius, 2.0f * radius, 2.0f * radius, 8.0f * s);

    const double wave = in.parameter(ScopeVisualInputs::spectralWave);
    const double ringFreq = in.parameter(ScopeVisualInputs::ringFreq);
    const double rate = in.parameter(ScopeVisualInputs::spectralRate);
    const double glitch = in.parameter(ScopeVisualInputs::glitch);
    const double division = in.parameter(ScopeVisualInputs::division);
    std::vector<juce::Point<float>> points;
    points.reserve(320);
    for (int j = 0; j < 320; ++j)
    {
        const double phi = twoPi * j / 320.0;
        const double r = radius +
                         d * (0.032 + 0.07 * wave) * std::sin(phi * (3.0 + 10.0 * ringFreq + 7.0 * rate)) +
                         0.035 * d * glitch * std::sin(phi * (8.0 + 18.0 * division)) +
                         0.054 * d * m * std::sin(17.0 * phi);
        points.push_back(
            {static_cast<float>(cx + r * std::cos(phi)), static_cast<float>(cy + r * std::sin(phi))});
    }
    const auto curve = closedCurve(points);
    g.setColour(socialColours::withAlphaFraction(socialColours::magenta, 0.22 + 0.32 * m));
    g.fillPath(curve);
    g.setColour(socialColours::withAlphaFraction(socialColours::cyan, 0.76 + 0.24 * m));
    g.strokePath(curve, juce::PathStrokeType(5.0f * s));
}

// The mono mix at a position, so a before/after teaser shows both halves.
float monoSample(const juce::AudioBuffer<float>& audio, int index)
{
    float sum = 0.0f;
    for (int c = 0; c < audio.getNumChannels(); ++c)
        sum += audio.getSample(c, index);
    return sum / static_cast<float>(audio.getNumChannels());
}

void drawWaveform(juce::Graphics& g, const juce::AudioBuffer<float>& audio, int left, int width,
                  float baseline, float d, float s)
{
    const int frames = audio.getNumSamples();
    if (width < 2 || frames <= 0 || audio.getNumChannels() <= 0)
        return;
    juce::Path line;
    for (int column = 0; column < width; ++column)
    {
        const auto index = static_cast<int>(static_cast<juce::int64>(column) * frames / width);
        const float sample = juce::jlimit(-1.0f, 1.0f, monoSample(audio, index));
        const juce::Point<float> p(static_cast<float>(left + column), baseline + sample * 0.1f * d);
        column == 0 ? line.startNewSubPath(p) : line.lineTo(p);
    }
    auto area = line;
    area.lineTo(static_cast<float>(left + width - 1), baseline);
    area.lineTo(static_cast<float>(left), baseline);
    area.closeSubPath();
    g.setColour(socialColours::violet.withAlpha(static_cast<juce::uint8>(0x59)));
    g.fillPath(area);
    g.setColour(socialColours::cyan.withAlpha(static_cast<juce::uint8>(0xCC)));
    g.strokePath(line, juce::PathStrokeType(2.0f * s));
}
} // namespace

juce::Colour socialColours::withAlphaFraction(juce::Colour colour, double a)
{
    const auto byte = juce::jlimit(0, 255, static_cast<int>(std::lround(a * 255.0)));
    return colour.withAlpha(static_cast<juce::uint8>(byte));
}

float coverReactiveLevel(const juce::AudioBuffer<float>& audio, double sampleRate)
{
    if (!(sampleRate > 0.0) || audio.getNumSamples() <= 0 || audio.getNumChannels() <= 0 ||
        audio.hasBeenCleared())
        return 0.0f;
    const auto window = std::min(static_cast<double>(audio.getNumSamples()), std::round(sampleRate * 0.05));
    const auto frames = static_cast<int>(window);
    float peak = 0.0f;
    for (int c = 0; c < audio.getNumChannels(); ++c)
        for (int i = 0; i < frames; ++i)
            if (const float v = std::abs(audio.getSample(c, i)); v > peak)
                peak = v; // NaN never wins a comparison, so it cannot poison the level
    return clamp01(peak * 1.7);
}

float coverVisualEnergy(const ScopeVisualInputs& in)
{
    double mean = 0.0;
    for (int i = 0; i < 23; ++i)
        mean += in.parameters[static_cast<size_t>(i)];
    mean /= 23.0;
    const double mix = clamp01(in.parameter(ScopeVisualInputs::mix));
    return clamp01(mix * (0.1 + 0.4 * clamp01(mean) + 0.2 * in.parameter(ScopeVisualInputs::chaos) +
                          0.12 * in.parameter(ScopeVisualInputs::spectralRate) +
                          0.04 * in.parameter(ScopeVisualInputs::dimension) +
                          0.1 * in.parameter(ScopeVisualInputs::delayTime) +
                          0.16 * in.meter(ScopeVisualInputs::spectralRateLevel) +
                          0.12 * in.meter(ScopeVisualInputs::delayMotion) +
                          0.1 * in.meter(ScopeVisualInputs::dimensionMotion)));
}

juce::Image renderFrame(const juce::AudioBuffer<float>& audio, double sampleRate,
                        const ScopeVisualInputs& visualInputs, const SocialExportOptions& options)
{
    const auto profile = socialAspectProfile(options.aspect);
    const auto w = static_cast<float>(profile.width);
    const auto h = static_cast<float>(profile.height);
    const float d = std::min(w, h);
    const float s = d / 1080.0f;
    const float cx = w / 2.0f, cy = h / 2.0f;

    juce::Image image(juce::Image::ARGB, profile.width, profile.height, true);
    juce::Graphics g(image);
    g.setGradientFill(juce::ColourGradient(socialColours::backgroundDark, 0.0f, 0.0f,
                                           socialColours::backgroundLight, w, h, false));
    g.fillAll();

    const float m = coverReactiveLevel(audio, sampleRate);
    // The energy drives the animation's motion; the still cover is its first frame at time 0.
    juce::ignoreUnused(coverVisualEnergy(visualInputs));
    const float radius = (0.255f + 0.055f * m) * d;

    drawBeams(g, w, h, d, m);
    switch (options.background)
    {
    case SocialBackground::SpectralFlux:
        drawSpectralFlux(g, w, h, s, m, visualInputs);
        break;
    case SocialBackground::VectorBloom:
        drawVectorBloom(g, cx, cy, radius, s, m, visualInputs);
        break;
    case SocialBackground::TresselRings:
    default:
        drawTresselRings(g, cx, cy, radius, d, s, m, visualInputs);
        break;
    }

    const int margin = static_cast<int>(std::lround(0.085 * d));
    const int textWidth = profile.width - 2 * margin;
    const auto title = options.title.isEmpty() ? juce::String("SORVANE") : options.title;
    g.setColour(socialColours::text);
    g.setFont(juce::Font(72.0f * s, juce::Font::bold));
    g.drawFittedText(title, margin, static_cast<int>(std::lround(0.055 * h)), textWidth,
                     static_cast<int>(std::lround(0.1 * h)), juce::Justification::centred, 2);

    g.setColour(socialColours::cyan.withAlpha(static_cast<juce::uint8>(0xD9)));
    g.setFont(juce::Font(34.0f * s, juce::Font::bold));
    g.drawFittedText(options.creator.trim(), margin, static_cast<int>(std::lround(0.165 * h)), textWidth,
                     static_cast<int>(std::lround(80.0 * s)), juce::Justification::centred, 2);

    drawWaveform(g, audio, margin, textWidth, 0.78f * h, d, s);

    g.setColour(socialColours::text.withAlpha(static_cast<juce::uint8>(0xBF)));
    g.setFont(juce::Font(27.0f * s, juce::Font::bold));
    g.drawText("RECOMBINANT SIGNAL PROCESSOR", margin, static_cast<int>(std::lround(0.87 * h)), textWidth,
               static_cast<int>(std::lround(60.0 * s)), juce::Justification::centred, true);

    g.setColour(socialColours::magenta);
    g.fillRoundedRectangle(0.37f * w, 0.92f * h, 0.26f * w, std::max(5.0f * s, 2.0f), 2.0f);
    return image;
}

bool writePng(const juce::Image& image, const juce::File& file)
{
    if (!image.isValid())
        return false;
    juce::MemoryOutputStream png;
    if (!juce::PNGImageFormat().writeImageToStream(image, png))
        return false;
    juce::String error;
    return writeFileDurably(file, png.getData(), png.getDataSize(), error);
}
} // namespace sorvane

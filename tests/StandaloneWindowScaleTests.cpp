#include "app/StandaloneFullscreenWindow.h"
#include "app/WindowFit.h"
#include "editor/EditorLayout.h"

#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

// On a real X server (the harness starts Xvfb, at 1280 x 800 and again at 2560 x 1600): what the
// window looks like is read back from the X server through a connection of the test's own, and
// clicks arrive as X events, so JUCE's scaling and hit-testing are the real ones.
namespace
{
using knurlkit::StandaloneFullscreenWindow;

void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

class WindowOnScreenTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE(juce::Desktop::getInstance().getDisplays().displays.isEmpty()) << "needs an X server";
        xDisplay = XOpenDisplay(nullptr);
        ASSERT_NE(xDisplay, nullptr);
    }

    void TearDown() override
    {
        window.reset();
        for (auto* name : {"_NET_WORKAREA", "RESOURCE_MANAGER"})
            XDeleteProperty(xDisplay, DefaultRootWindow(xDisplay), XInternAtom(xDisplay, name, False));
        XSync(xDisplay, False);
        XCloseDisplay(xDisplay);
        juce::Desktop::getInstance().setGlobalScaleFactor(1.0f);
    }

    void openWindow()
    {
        juce::Array<juce::StandalonePluginHolder::PluginInOuts> outputsOnly;
        outputsOnly.add({0, 2});
        window = std::make_unique<StandaloneFullscreenWindow>("Sorvane", juce::Colours::black, &settings,
                                                              false, juce::String(), nullptr, outputsOnly);
        window->setVisible(true);
        pump(100);
    }

    // A desktop's hints, set before the window opens, as a panel or a settings daemon would.
    void setWorkArea(juce::Rectangle<int> area)
    {
        long values[] = {area.getX(), area.getY(), area.getWidth(), area.getHeight()};
        XChangeProperty(xDisplay, DefaultRootWindow(xDisplay), XInternAtom(xDisplay, "_NET_WORKAREA", False),
                        XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<unsigned char*>(values), 4);
        XSync(xDisplay, False);
    }

    void setResources(const char* text)
    {
        XChangeProperty(xDisplay, DefaultRootWindow(xDisplay),
                        XInternAtom(xDisplay, "RESOURCE_MANAGER", False), XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(text), (int)strlen(text));
        XSync(xDisplay, False);
    }

    ::Window nativeWindow() const { return (::Window)window->getPeer()->getNativeHandle(); }

    // Where the X server has the window, in physical pixels.
    juce::Rectangle<int> physicalBounds() const
    {
        ::Window root = 0, child = 0;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0;
        XGetGeometry(xDisplay, nativeWindow(), &root, &x, &y, &width, &height, &border, &depth);
        XTranslateCoordinates(xDisplay, nativeWindow(), root, 0, 0, &x, &y, &child);
        return {x, y, (int)width, (int)height};
    }

    juce::Rectangle<int> physicalScreen() const
    {
        return {0, 0, DisplayWidth(xDisplay, DefaultScreen(xDisplay)),
                DisplayHeight(xDisplay, DefaultScreen(xDisplay))};
    }

    // A button press and release at a physical position inside the window, as the X server sends them.
    void clickAt(juce::Point<int> physical)
    {
        for (auto type : {ButtonPress, ButtonRelease})
        {
            XEvent event = {};
            event.xbutton.type = type;
            event.xbutton.display = xDisplay;
            event.xbutton.window = nativeWindow();
            event.xbutton.root = DefaultRootWindow(xDisplay);
            event.xbutton.x = physical.x;
            event.xbutton.y = physical.y;
            event.xbutton.button = Button1;
            event.xbutton.same_screen = True;
            event.xbutton.time = CurrentTime;
            XSendEvent(xDisplay, nativeWindow(), True,
                       type == ButtonPress ? ButtonPressMask : ButtonReleaseMask, &event);
            XSync(xDisplay, False);
            pump(150);
        }
    }

    void clickCentreOf(juce::Component& component)
    {
        const auto scale = juce::Desktop::getInstance().getGlobalScaleFactor();
        const auto centre = window->getLocalPoint(&component, component.getLocalBounds().getCentre());
        clickAt((centre.toFloat() * scale).roundToInt());
    }

    juce::Rectangle<int> usableArea() const
    {
        const auto& displays = juce::Desktop::getInstance().getDisplays();
        return displays.getDisplayForRect(window->getScreenBounds())->userArea;
    }

    // The editor's minimum plus the windowed title bar and borders.
    juce::Point<int> minimumWindowSize() const
    {
        auto* editor = window->findEditor();
        const auto border = window->getContentComponentBorder();
        return {editor->getConstrainer()->getMinimumWidth() + border.getLeftAndRight(),
                editor->getConstrainer()->getMinimumHeight() + border.getTopAndBottom()};
    }

    juce::PropertySet settings;
    std::unique_ptr<StandaloneFullscreenWindow> window;
    ::Display* xDisplay = nullptr;
};
} // namespace

TEST_F(WindowOnScreenTest, FullScreenKeepsOptionsAndExitWithinReachBesideTheTitle)
{
    for (auto percent : {100, 125})
    {
        SCOPED_TRACE(percent);
        settings.setValue(knurlkit::windowScaleKey, percent);
        openWindow();
        const auto windowed = window->getBounds();

        window->toggleFullscreen();
        pump(100);
        ASSERT_TRUE(window->isFullscreen());

        auto* editor = window->findEditor();
        ASSERT_NE(editor, nullptr);
        sorvane::EditorLayoutInput input;
        input.width = editor->getWidth();
        input.height = editor->getHeight();
        input.tresselMode = true;
        input.standalone = true;
        const auto title = window->getLocalArea(editor, sorvane::computeEditorLayout(input).titleBlock);
        EXPECT_EQ(window->getLocalPoint(editor, juce::Point<int>()).y,
                  StandaloneFullscreenWindow::fullscreenBarHeight);

        juce::Component* buttons[] = {&window->getOptionsButton(), &window->getFullscreenButton()};
        for (auto* button : buttons)
        {
            SCOPED_TRACE(button->getName());
            EXPECT_TRUE(button->isShowing());
            const auto bounds = button->getBoundsInParent();
            EXPECT_TRUE(window->getLocalBounds().contains(bounds)) << bounds.toString();
            EXPECT_FALSE(bounds.intersects(title)) << bounds.toString() << " " << title.toString();
            EXPECT_GE(bounds.getWidth(), 50);
            EXPECT_GE(bounds.getHeight(), 18);
            // Nothing of the editor's lies on top of it where a click lands.
            EXPECT_EQ(window->getComponentAt(bounds.getCentre()), button);
        }
        EXPECT_TRUE(physicalScreen().contains(physicalBounds()));
        EXPECT_EQ(window->getFullscreenButton().getButtonText(), "EXIT FULLSCREEN");

        // A real click on Options opens its menu.
        clickCentreOf(window->getOptionsButton());
        EXPECT_TRUE(juce::PopupMenu::dismissAllActiveMenus()) << "no menu opened";
        pump(100);

        clickCentreOf(window->getFullscreenButton());
        EXPECT_FALSE(window->isFullscreen());
        EXPECT_EQ(window->getBounds(), windowed);
        window.reset();
    }
}

TEST_F(WindowOnScreenTest, TheFirstWindowFitsTheUsableArea)
{
    const auto screen = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->totalArea;
    struct Case
    {
        const char* description;
        juce::Rectangle<int> workArea;
        int savedX, savedY, savedWidth, savedHeight;
    };
    const Case cases[] = {
        {"nothing saved", {}, 0, 0, 0, 0},
        {"panels above and below", {0, 40, screen.getWidth(), screen.getHeight() - 64}, 0, 0, 0, 0},
        {"a saved size larger than the screen", {}, 900, 600, 3000, 2000},
        {"a saved position off the screen", {}, -500, -400, 0, 0},
        {"a saved size below the minimum",
         {0, 30, screen.getWidth(), screen.getHeight() - 30},
         20,
         0,
         400,
         300},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.description);
        settings.clear();
        if (!c.workArea.isEmpty())
            setWorkArea(c.workArea);
        if (c.savedX != 0 || c.savedY != 0)
        {
            settings.setValue("windowX", c.savedX);
            settings.setValue("windowY", c.savedY);
        }
        if (c.savedWidth > 0)
        {
            settings.setValue(knurlkit::windowWidthKey, c.savedWidth);
            settings.setValue(knurlkit::windowHeightKey, c.savedHeight);
        }
        openWindow();

        const auto area = c.workArea.isEmpty() ? usableArea() : c.workArea;
        const auto bounds = window->getBounds();
        const auto minimum = minimumWindowSize();
        EXPECT_GE(bounds.getWidth(), minimum.x);
        EXPECT_GE(bounds.getHeight(), minimum.y);
        EXPECT_GE(window->findEditor()->getWidth(), 1100);
        EXPECT_GE(window->findEditor()->getHeight(), 700);
        if (area.getWidth() >= minimum.x && area.getHeight() >= minimum.y)
            EXPECT_TRUE(area.contains(bounds)) << bounds.toString() << " in " << area.toString();
        else
            EXPECT_EQ(bounds.getTopLeft(), area.getTopLeft()) << "the title bar must stay on screen";
        EXPECT_TRUE(physicalScreen().contains(physicalBounds()) || !screen.contains(bounds));

        window.reset();
        XDeleteProperty(xDisplay, DefaultRootWindow(xDisplay), XInternAtom(xDisplay, "_NET_WORKAREA", False));
        XSync(xDisplay, False);
    }
}

TEST_F(WindowOnScreenTest, AChosenScaleGrowsTheWindowIsSavedAndComesBack)
{
    openWindow();
    const auto logical = window->getBounds();
    ASSERT_EQ(physicalBounds().getWidth(), logical.getWidth()) << "starts unscaled on Xvfb";
    const auto minimum = minimumWindowSize();

    const auto menu = window->createOptionsMenu();
    juce::PopupMenu::MenuItemIterator items(menu, true);
    juce::StringArray scaleItems;
    while (items.next())
        if (items.getItem().itemID >= StandaloneFullscreenWindow::automaticScaleItem)
            scaleItems.add(items.getItem().text + (items.getItem().isTicked ? " *" : ""));
    EXPECT_EQ(scaleItems.joinIntoString("|"), "Automatic (100 %) *|75 %|100 %|125 %|150 %|175 %|200 %");

    window->handleOptionsMenuResult(StandaloneFullscreenWindow::scaleItemFor(150));
    pump(100);

    const auto expected = knurlkit::fittedWindowScale(1.5f, physicalScreen(), minimum);
    EXPECT_FLOAT_EQ(juce::Desktop::getInstance().getGlobalScaleFactor(), expected);
    EXPECT_EQ(settings.getIntValue(knurlkit::windowScaleKey), 150);

    const auto grown = physicalBounds();
    const auto now = window->getBounds();
    EXPECT_NEAR(grown.getWidth(), now.getWidth() * expected, 1.0);
    EXPECT_NEAR(grown.getHeight(), now.getHeight() * expected, 1.0);
    EXPECT_TRUE(physicalScreen().contains(grown)) << grown.toString();
    if (expected == 1.5f)
        EXPECT_EQ(now.getWidth(), logical.getWidth()) << "room enough: only the scale changed";

    // The next start comes back at the same scale and size.
    window.reset();
    juce::Desktop::getInstance().setGlobalScaleFactor(1.0f);
    openWindow();
    EXPECT_EQ(window->getWindowScalePercent(), 150);
    EXPECT_FLOAT_EQ(juce::Desktop::getInstance().getGlobalScaleFactor(), expected);
    EXPECT_EQ(physicalBounds().getWidth(), grown.getWidth());
    EXPECT_EQ(physicalBounds().getHeight(), grown.getHeight());

    window->handleOptionsMenuResult(StandaloneFullscreenWindow::automaticScaleItem);
    pump(100);
    EXPECT_EQ(settings.getIntValue(knurlkit::windowScaleKey, -1), 0);
    EXPECT_FLOAT_EQ(juce::Desktop::getInstance().getGlobalScaleFactor(), 1.0f);
    EXPECT_EQ(physicalBounds().getWidth(), window->getWidth());
}

TEST_F(WindowOnScreenTest, AutomaticScaleFollowsTheDesktopFontDpi)
{
    setResources("Xft.antialias:\t1\nXft.dpi:\t144\n");
    openWindow();

    const auto minimum = minimumWindowSize();
    const auto expected = knurlkit::fittedWindowScale(1.5f, physicalScreen(), minimum);
    EXPECT_FLOAT_EQ(window->getAutomaticScale(), 1.5f);
    EXPECT_FLOAT_EQ(juce::Desktop::getInstance().getGlobalScaleFactor(), expected);
    EXPECT_NEAR(physicalBounds().getWidth(), window->getWidth() * expected, 1.0);
    EXPECT_EQ(settings.getIntValue(knurlkit::windowScaleKey, 0), 0) << "automatic is not a choice to save";
}

// The main panel laid out on small and scaled screens: every control whole, inside the
// window and clear of every other, with no scrolling down to the smallest size, and the
// logo sharp. ctest runs this file at scale 1 and again with QT_SCALE_FACTOR=2.
#include "app.h"
#include "gui.h"
#include "platform/panel/panel.h"
#include "platform/panel/panel_internal.h"
#include "ui.h"

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Placed {
    QWidget *widget;
    QRect rect; // in the window's coordinates
};

std::string Name(const QWidget *widget) {
    const QString name = widget->objectName();
    return (name.isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) + " '" +
                                 widget->property("text").toString() + "'"
                           : name)
        .toStdString();
}

// What an operator reads or works: laid-out or placed widgets with an id, labels, buttons,
// boxes and rings; a frame that only groups or backs others is none.
bool IsControl(const QWidget *widget) {
    if (qobject_cast<const QLabel *>(widget) || qobject_cast<const QAbstractButton *>(widget) ||
        qobject_cast<const QAbstractSpinBox *>(widget) || qobject_cast<const QComboBox *>(widget))
        return true;
    const char *kind = widget->metaObject()->className();
    return widget->property(platform::kCtrlIdProperty).isValid() && qstrcmp(kind, "QFrame") != 0 &&
           qstrcmp(kind, "QGroupBox") != 0;
}

void Collect(QWidget *window, QWidget *parent, std::vector<Placed> &found) {
    for (QWidget *child : parent->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisibleTo(window))
            continue;
        if (!IsControl(child)) {
            Collect(window, child, found);
            continue;
        }
        found.push_back({child, QRect(child->mapTo(window, QPoint(0, 0)), child->size())});
    }
}

void Settle() {
    for (int round = 0; round < 5; ++round)
        QCoreApplication::processEvents();
}

TEST(Layout, EveryControlIsWholeInsideTheWindowAndClearOfTheOthers) {
    const int panel = app::LoadMainPanel();
    ASSERT_GT(panel, 0);
    app::Program program(panel, testing::TempDir());
    program.InitVars(); // the logo band's texts
    // Shown only when there is something to say: placed as it stands then.
    program.Panel().ShowHint("No answer on COM1 (/dev/ttyUSB0): check power, cable and port");
    QWidget *window = platform::PanelWidget(panel);
    ASSERT_TRUE(window);
    DisplayPanel(panel);
    window->showNormal(); // the offscreen screen is smaller than the panel: it came maximised
    auto *scroll = window->findChild<QScrollArea *>();
    ASSERT_TRUE(scroll);
    // The smallest window the panel is made for, a laptop's and a scaled full-HD screen's.
    for (const QSize size : {QSize(1024, 600), QSize(1280, 720), QSize(1920, 1080)}) {
        SCOPED_TRACE(testing::Message() << size.width() << "x" << size.height());
        window->resize(size);
        Settle();
        ASSERT_EQ(window->size(), size);
        EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
        EXPECT_FALSE(scroll->verticalScrollBar()->isVisible());
        std::vector<Placed> controls;
        Collect(window, window, controls);
        ASSERT_GT(controls.size(), 50u);
        for (std::size_t a = 0; a < controls.size(); ++a) {
            const Placed &one = controls[a];
            EXPECT_TRUE(window->rect().contains(one.rect))
                << Name(one.widget) << " outside the window";
            const QSize least = one.widget->minimumSizeHint();
            const bool ignoresWidth =
                one.widget->sizePolicy().horizontalPolicy() == QSizePolicy::Ignored;
            EXPECT_TRUE((ignoresWidth || one.rect.width() >= least.width()) &&
                        one.rect.height() >= least.height())
                << Name(one.widget) << " squeezed below its least size";
            for (std::size_t b = a + 1; b < controls.size(); ++b)
                EXPECT_FALSE(one.rect.intersects(controls[b].rect))
                    << Name(one.widget) << " overlaps " << Name(controls[b].widget);
        }
    }
    // Below the smallest size the body scrolls rather than squeezing its controls.
    window->resize(700, 420);
    Settle();
    EXPECT_TRUE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
}

// Where the panel does not fit with a window frame, it takes the screen's whole room before
// it asks to be maximised, so that it fills the screen also where nothing maximises it.
TEST(Layout, TheWindowOpensAtItsOwnSizeWhereItFitsElseOnTheWholeScreen) {
    const int panel = app::LoadMainPanel();
    ASSERT_GT(panel, 0);
    QWidget *window = platform::PanelWidget(panel);
    const QSize own = window->size();
    DisplayPanel(panel);
    Settle();
    const QRect room = window->screen()->availableGeometry();
    SCOPED_TRACE(testing::Message() << room.width() << "x" << room.height());
    if (own.width() + 16 <= room.width() && own.height() + 48 <= room.height()) {
        EXPECT_EQ(window->size(), own);
        EXPECT_FALSE(window->isMaximized());
    } else {
        EXPECT_TRUE(window->isMaximized());
        EXPECT_EQ(window->normalGeometry().size(), room.size().expandedTo(window->minimumSize()))
            << "as it stands without a window manager";
    }
    DiscardPanel(panel);
}

// The bar at the right end of the logo has hard edges at every scale: each pixel across it
// is band or bar, none a blend of both as a bitmap scaled up would give.
TEST(Layout, TheLogoIsDrawnForTheScreensPixelDensity) {
    const int panel = app::LoadMainPanel();
    ASSERT_GT(panel, 0);
    app::Program program(panel, testing::TempDir());
    program.InitVars();
    QWidget *logo = platform::ControlWidget(panel, ui::PICLogo);
    ASSERT_TRUE(logo);
    const QImage drawn = logo->grab().toImage();
    const double ratio = logo->devicePixelRatioF();
    const int row      = static_cast<int>(13.5 * ratio);
    int bar            = 0;
    const QColor band  = QColor(0x00, 0x80, 0xff);
    const QColor white = Qt::white;
    ASSERT_EQ(drawn.width(), static_cast<int>(logo->width() * ratio));
    ASSERT_EQ(logo->size(), QSize(200, 22));
    for (int x = static_cast<int>(186 * ratio); x < static_cast<int>(199 * ratio); ++x) {
        const QColor pixel = drawn.pixelColor(x, row);
        EXPECT_TRUE(pixel == band || pixel == white) << "blended at " << x;
        bar += pixel == white;
    }
    EXPECT_EQ(bar, static_cast<int>(4 * ratio)) << "the bar is 4 pixels wide at scale 1";
}

} // namespace

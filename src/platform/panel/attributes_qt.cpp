// Control attributes: dimmed, visible, position, colours, text fonts, tooltips, the strip
// chart's settings and the timer control's switch.
#include "panel_internal.h"
#include "widgets/sent_mark.h"
#include "widgets/strip_chart.h"
#include "widgets/timer_control.h"
#include "widgets/tooltip.h"
#include "widgets/xy_graph.h"

#include <QApplication>
#include <QLineEdit>
#include <QTextDocumentFragment>

#include <cstring>

namespace {

QPoint PanelPosition(const QWidget *widget) {
    const QWidget *window = widget->window();
    return widget == window ? QPoint() : widget->mapTo(window, QPoint());
}

void MoveOnPanel(QWidget *widget, int left, int top) {
    QWidget *parent = widget->parentWidget();
    if (!parent || widget->isWindow())
        return;
    widget->move(parent->mapFrom(widget->window(), QPoint(left, top)));
}

QPalette::ColorRole TextRole(const QWidget *widget) {
    return qobject_cast<const QLineEdit *>(widget) ? QPalette::Text : QPalette::WindowText;
}

QPalette::ColorRole BackgroundRole(const QWidget *widget) {
    return qobject_cast<const QLineEdit *>(widget) ? QPalette::Base : QPalette::Window;
}

void SetColor(QWidget *widget, QPalette::ColorRole role, int rgb) {
    QPalette palette = widget->palette();
    palette.setColor(role, platform::Rgb(rgb));
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

int SetTextAttribute(QWidget *widget, int attribute, int value) {
    if (!platform::IsTextControl(widget))
        return platform::kErrWrongKind;
    QFont font = widget->font();
    switch (attribute) {
    case kAttrTextColor:
        SetColor(widget, TextRole(widget), value);
        break;
    case kAttrTextBgColor:
        SetColor(widget, BackgroundRole(widget), value);
        break;
    case kAttrTextPointSize:
        // Sizes count pixels, as the panel's text lines assume: the band's lines of
        // size 11 stand 15 pixels apart.
        if (value <= 0)
            return platform::kErrBadArgument;
        font.setPixelSize(value);
        widget->setFont(font);
        break;
    case kAttrTextBold:
        font.setBold(value != 0);
        widget->setFont(font);
        break;
    default:
        return platform::kErrWrongKind;
    }
    platform::FitText(widget);
    return 0;
}

int SetChartAttribute(StripChart *chart, int attribute, int value) {
    switch (attribute) {
    case kAttrScrollMode:
        chart->SetScrollMode(value);
        return 0;
    case kAttrNumTraces:
        if (value < 1)
            return platform::kErrBadArgument;
        chart->SetNumTraces(value);
        return 0;
    case kAttrPointsPerScreen:
        if (value < 1)
            return platform::kErrBadArgument;
        chart->SetPointsPerScreen(value);
        return 0;
    case kAttrDrawnPoints:
        chart->SetDrawnPoints(value);
        return 0;
    default:
        return platform::kErrWrongKind;
    }
}

int SetKindAttribute(QWidget *widget, int attribute, int value) {
    if (auto *chart = qobject_cast<StripChart *>(widget))
        return SetChartAttribute(chart, attribute, value);
    if (attribute == kAttrEnabled) {
        auto *timer = qobject_cast<TimerControl *>(widget);
        if (!timer)
            return platform::kErrWrongKind;
        timer->SetActive(value != 0);
        return 0;
    }
    return SetTextAttribute(widget, attribute, value);
}

int SetAttribute(QWidget *widget, int attribute, int value) {
    switch (attribute) {
    case kAttrDimmed:
        widget->setEnabled(value == 0);
        return 0;
    case kAttrVisible:
        widget->setVisible(value != 0);
        return 0;
    case kAttrLeft:
        MoveOnPanel(widget, value, PanelPosition(widget).y());
        return 0;
    case kAttrTop:
        MoveOnPanel(widget, PanelPosition(widget).x(), value);
        return 0;
    case kAttrFrameColor:
        SetColor(widget, QPalette::Window, value);
        return 0;
    case kAttrSentValue:
        if (SentMark *mark = SentMark::Of(widget)) {
            mark->SetSentValue(value);
            return 0;
        }
        return platform::kErrWrongKind;
    case kAttrDefaultMark:
        if (SentMark *mark = SentMark::Of(widget)) {
            mark->SetDefault(value != 0);
            return 0;
        }
        return platform::kErrWrongKind;
    default:
        return SetKindAttribute(widget, attribute, value);
    }
}

bool GetChartAttribute(const StripChart *chart, int attribute, int &value) {
    switch (attribute) {
    case kAttrScrollMode:
        value = chart->ScrollMode();
        return true;
    case kAttrNumTraces:
        value = chart->NumTraces();
        return true;
    case kAttrPointsPerScreen:
        value = chart->PointsPerScreen();
        return true;
    case kAttrDrawnPoints:
        value = chart->DrawnPoints();
        return true;
    default:
        return false;
    }
}

bool GetTextAttribute(const QWidget *widget, int attribute, int &value) {
    switch (attribute) {
    case kAttrTextColor:
        value = platform::RgbOf(widget->palette().color(TextRole(widget)));
        return true;
    case kAttrTextBgColor:
        value = platform::RgbOf(widget->palette().color(BackgroundRole(widget)));
        return true;
    case kAttrTextPointSize:
        value = widget->font().pixelSize();
        return true;
    case kAttrTextBold:
        value = widget->font().bold() ? 1 : 0;
        return true;
    default:
        return false;
    }
}

bool GetKindAttribute(const QWidget *widget, int attribute, int &value) {
    if (auto *chart = qobject_cast<const StripChart *>(widget))
        return GetChartAttribute(chart, attribute, value);
    if (auto *timer = qobject_cast<const TimerControl *>(widget)) {
        if (attribute != kAttrEnabled)
            return false;
        value = timer->IsActive() ? 1 : 0;
        return true;
    }
    return platform::IsTextControl(widget) && GetTextAttribute(widget, attribute, value);
}

bool GetAttribute(const QWidget *widget, int attribute, int &value) {
    switch (attribute) {
    case kAttrDimmed:
        // The control's own setting, whatever a dimmed frame around it does.
        value = widget->testAttribute(Qt::WA_ForceDisabled) ? 1 : 0;
        return true;
    case kAttrVisible:
        value = widget->isHidden() ? 0 : 1;
        return true;
    case kAttrLeft:
        value = PanelPosition(widget).x();
        return true;
    case kAttrTop:
        value = PanelPosition(widget).y();
        return true;
    case kAttrFrameColor:
        value = platform::RgbOf(widget->palette().color(QPalette::Window));
        return true;
    case kAttrSentValue:
        return SentMark::ReadSentValue(widget, value);
    case kAttrNotSent:
        return SentMark::ReadMarked(widget, value);
    case kAttrDefaultMark:
        return SentMark::ReadDefault(widget, value);
    default:
        return GetKindAttribute(widget, attribute, value);
    }
}

} // namespace

namespace platform {

QColor Rgb(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb) & 0xFFFFFFu);
}
int RgbOf(const QColor &color) {
    return static_cast<int>(color.rgb() & 0xFFFFFFu);
}

} // namespace platform

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    // Each control redraws itself when a setting changes it; the plots write theirs on
    // every sample, and an unchanged one must cost nothing.
    return SetAttribute(found.widget, attribute, value);
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *text) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!text)
        return platform::kErrBadArgument;
    if (attribute == kAttrToolTip) {
        // A numeric control's marks add their lines to the tooltip it is given.
        if (SentMark *mark = SentMark::Of(found.widget))
            mark->SetToolTip(QString::fromUtf8(text));
        else
            found.widget->setToolTip(platform::ToolTipHtml(QString::fromUtf8(text)));
        return 0;
    }
    if (attribute == kAttrNote) {
        SentMark *mark = SentMark::Of(found.widget);
        if (!mark)
            return platform::kErrWrongKind;
        mark->SetNote(QString::fromUtf8(text));
        return 0;
    }
    if (attribute == kAttrYName) {
        auto *graph = qobject_cast<XYGraph *>(found.widget);
        if (auto *chart = qobject_cast<StripChart *>(found.widget))
            chart->SetYName(QString::fromUtf8(text));
        else if (graph)
            graph->SetYName(QString::fromUtf8(text));
        else
            return platform::kErrWrongKind;
        return 0;
    }
    if (attribute != kAttrTextFont || !platform::IsTextControl(found.widget))
        return platform::kErrWrongKind;
    QFont font = found.widget->font();
    if (std::strcmp(text, kFontApplication) == 0) {
        // The application font of text messages is the program's own typeface, a little
        // condensed: the band's fixed positions leave the name 210 pixels to the version.
        font.setFamily(QApplication::font().family());
        font.setStretch(QFont::SemiCondensed);
    } else {
        font.setFamily(QString::fromUtf8(text));
        font.setStretch(QFont::Unstretched);
    }
    found.widget->setFont(font);
    platform::FitText(found.widget);
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!value)
        return platform::kErrBadArgument;
    return GetAttribute(found.widget, attribute, *value) ? 0 : platform::kErrWrongKind;
}

int GetCtrlAttribute(int panel, int control, int attribute, char *text, int size) {
    const platform::Control found = platform::FindControl(panel, control);
    if (!found.widget)
        return found.error;
    if (!text || size <= 0)
        return platform::kErrBadArgument;
    if (attribute == kAttrLabel) {
        platform::CopyText(text, size, found.widget->accessibleName());
        return 0;
    }
    if (attribute == kAttrNote) {
        QString note;
        if (!SentMark::ReadNote(found.widget, note))
            return platform::kErrWrongKind;
        platform::CopyText(text, size, note);
        return 0;
    }
    if (attribute != kAttrToolTip)
        return platform::kErrWrongKind;
    QString plain =
        QTextDocumentFragment::fromHtml(found.widget->toolTip()).toPlainText().trimmed();
    plain.replace(QChar::LineSeparator, QLatin1Char('\n'));
    platform::CopyText(text, size, plain);
    return 0;
}

// Panel services over Qt Widgets: the table of loaded panels, the event loop, control
// values, attributes, rings, text messages made at run time, plots and pictures.
#include "panel_internal.h"
#include "trace.h"
#include "widgets/indicator.h"
#include "widgets/led.h"
#include "widgets/strip_chart.h"
#include "widgets/timer_control.h"
#include "widgets/xy_graph.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QSpinBox>
#include <QTextDocumentFragment>
#include <QThread>

#include <qcustomplot.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

struct PanelTable {
    std::map<int, platform::PanelRecord> panels;
    int nextHandle = 1;
} table;

struct EventLoop {
    bool quit     = false;
    int quitCode  = 0;
    int callbacks = 0; // callbacks running, nested ones included
} loop;

// Counts a running callback for as long as it runs.
class CallbackScope {
  public:
    CallbackScope() { ++loop.callbacks; }
    ~CallbackScope() { --loop.callbacks; }
    CallbackScope(const CallbackScope &)            = delete;
    CallbackScope &operator=(const CallbackScope &) = delete;
};

constexpr int kThickLineWidth = 3;
constexpr int kThinLineWidth  = 1;

QColor Rgb(int rgb) {
    return QColor::fromRgb(static_cast<QRgb>(rgb) & 0xFFFFFFu);
}
int RgbOf(const QColor &color) {
    return static_cast<int>(color.rgb() & 0xFFFFFFu);
}

// A control's widget and the result code when there is none.
struct Control {
    QWidget *widget = nullptr;
    int error       = 0;
};

Control Find(int panel, int control) {
    if (!platform::FindPanel(panel))
        return {nullptr, platform::kErrNoPanel};
    QWidget *widget = platform::ControlWidget(panel, control);
    return {widget, widget ? 0 : platform::kErrNoControl};
}

template <class Widget> Widget *FindAs(int panel, int control, int &error) {
    const Control found = Find(panel, control);
    error               = found.error;
    auto *widget        = qobject_cast<Widget *>(found.widget);
    if (found.widget && !widget)
        error = platform::kErrWrongKind;
    return widget;
}

// --- Values by kind ---

bool IsTextControl(const QWidget *widget) {
    return qobject_cast<const QLabel *>(widget) || qobject_cast<const QLineEdit *>(widget);
}

int RingValue(const QComboBox *ring, int index) {
    const QVariant data = ring->itemData(index);
    return data.isValid() ? data.toInt() : index;
}

bool ReadNumber(const QWidget *widget, int &value) {
    if (auto *spin = qobject_cast<const QSpinBox *>(widget)) {
        value = spin->value();
    } else if (auto *ring = qobject_cast<const QComboBox *>(widget)) {
        value = ring->currentIndex() < 0 ? 0 : RingValue(ring, ring->currentIndex());
    } else if (auto *button = qobject_cast<const QAbstractButton *>(widget)) {
        value = button->isChecked() ? 1 : 0;
    } else if (auto *led = qobject_cast<const Led *>(widget)) {
        value = led->IsOn() ? 1 : 0;
    } else if (auto *indicator = qobject_cast<const Indicator *>(widget)) {
        value = indicator->Value();
    } else if (auto *label = qobject_cast<const QLabel *>(widget)) {
        value = label->text().toInt();
    } else if (auto *edit = qobject_cast<const QLineEdit *>(widget)) {
        value = edit->text().toInt();
    } else {
        return false;
    }
    return true;
}

bool SelectRingValue(QComboBox *ring, int value) {
    for (int index = 0; index < ring->count(); ++index) {
        if (RingValue(ring, index) == value) {
            ring->setCurrentIndex(index);
            platform::NoteRingSelection(ring);
            return true;
        }
    }
    return false;
}

// Text messages made at run time fit their text; the others keep the panel file's size.
void FitText(QWidget *widget) {
    if (widget->property(platform::kFitsTextProperty).toBool())
        widget->adjustSize();
}

bool WriteText(QWidget *widget, const QString &text) {
    if (auto *label = qobject_cast<QLabel *>(widget))
        label->setText(text);
    else if (auto *edit = qobject_cast<QLineEdit *>(widget))
        edit->setText(text);
    else
        return false;
    FitText(widget);
    return true;
}

bool WriteNumber(QWidget *widget, int value) {
    if (auto *spin = qobject_cast<QSpinBox *>(widget))
        spin->setValue(value);
    else if (auto *indicator = qobject_cast<Indicator *>(widget))
        indicator->SetValue(value);
    else if (auto *ring = qobject_cast<QComboBox *>(widget))
        return SelectRingValue(ring, value);
    else if (auto *button = qobject_cast<QAbstractButton *>(widget))
        button->setChecked(value != 0);
    else if (auto *led = qobject_cast<Led *>(widget))
        led->SetOn(value != 0);
    else
        return WriteText(widget, QString::number(value));
    return true;
}

// Rich text in a cell of a fixed width: Qt then wraps a long text to lines of a
// comfortable length, where plain text would make one wide line and a bare paragraph a
// narrow column.
constexpr int kToolTipWidth = 420;

QString ToolTipOf(const QString &text) {
    if (text.isEmpty())
        return QString();
    return QString("<table width=\"%1\"><tr><td>%2</td></tr></table>")
        .arg(kToolTipWidth)
        .arg(text.toHtmlEscaped());
}

void CopyText(const QString &text, char *destination, int size) {
    const QByteArray bytes = text.toUtf8();
    const int length       = std::min(static_cast<int>(bytes.size()), size - 1);
    std::memcpy(destination, bytes.constData(), static_cast<std::size_t>(length));
    destination[length] = '\0';
}

// --- Attributes by kind ---

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
    palette.setColor(role, Rgb(rgb));
    widget->setPalette(palette);
    if (role == QPalette::Window)
        widget->setAutoFillBackground(true);
}

int SetTextAttribute(QWidget *widget, int attribute, int value) {
    if (!IsTextControl(widget))
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
    FitText(widget);
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
    default:
        return false;
    }
}

bool GetTextAttribute(const QWidget *widget, int attribute, int &value) {
    switch (attribute) {
    case kAttrTextColor:
        value = RgbOf(widget->palette().color(TextRole(widget)));
        return true;
    case kAttrTextBgColor:
        value = RgbOf(widget->palette().color(BackgroundRole(widget)));
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
    return IsTextControl(widget) && GetTextAttribute(widget, attribute, value);
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
        value = RgbOf(widget->palette().color(QPalette::Window));
        return true;
    default:
        return GetKindAttribute(widget, attribute, value);
    }
}

// --- Plots ---

std::vector<double> TakeValues(const void *values, int count, int start, int skip, int dataType) {
    std::vector<double> taken;
    const int step = skip + 1;
    for (int k = start; taken.size() < static_cast<std::size_t>(count); k += step) {
        if (dataType == kTypeDouble)
            taken.push_back(static_cast<const double *>(values)[k]);
        else if (dataType == kTypeU16)
            taken.push_back(static_cast<const std::uint16_t *>(values)[k]);
        else
            taken.push_back(static_cast<const unsigned int *>(values)[k]);
    }
    return taken;
}

bool IsPlotType(int dataType) {
    return dataType == kTypeDouble || dataType == kTypeU16 || dataType == kTypeUInt;
}

QVector<double> CurvePoints(const void *values, int n, int dataType) {
    const std::vector<double> taken = TakeValues(values, n, 0, 0, dataType);
    return QVector<double>(taken.begin(), taken.end());
}

XYGraph::CurveStyle StyleOf(int plotStyle, int pointStyle, int lineStyle, int pointFrequency,
                            int color) {
    XYGraph::CurveStyle style;
    style.pen    = QPen(Rgb(color), plotStyle == kPlotThickLine ? kThickLineWidth : kThinLineWidth,
                     lineStyle == kLineDashed ? Qt::DashLine : Qt::SolidLine);
    style.points = pointStyle != kPointEmpty;
    style.pointsEvery = pointFrequency;
    return style;
}

void ShowAtOnce(QWidget *widget) {
    widget->repaint();
}

} // namespace

// --- The table of panels ---

namespace platform {

int AddPanel(PanelRecord record) {
    const int panel     = table.nextHandle++;
    table.panels[panel] = std::move(record);
    return panel;
}

PanelRecord *FindPanel(int panel) {
    const auto found = table.panels.find(panel);
    if (found == table.panels.end() || !found->second.top)
        return nullptr;
    return &found->second;
}

QWidget *ControlWidget(int panel, int control) {
    PanelRecord *record = FindPanel(panel);
    if (!record)
        return nullptr;
    const auto found = record->controls.find(control);
    return found == record->controls.end() ? nullptr : found->second.data();
}

QWidget *PanelWidget(int panel) {
    PanelRecord *record = FindPanel(panel);
    return record ? record->top.data() : nullptr;
}

void RaiseControlEvent(CtrlCallbackPtr callback, int panel, int control, int event) {
    if (!FindPanel(panel))
        return;
    CallbackScope scope;
    callback(panel, control, event, nullptr, 0, 0);
}

bool ProgramIdle() {
    return loop.callbacks == 0 && !ProcessingSystemEvents();
}

void RaisePanelEvent(int panel, int event) {
    PanelRecord *record = FindPanel(panel);
    if (!record || !record->callback)
        return;
    const PanelCallbackPtr callback = record->callback;
    CallbackScope scope;
    callback(panel, event, nullptr, 0, 0);
}

// Beside the program in a build tree; in the data folder of an installed program.
QString ResolveProgramFile(const char *fileName) {
    const QString name = QString::fromLocal8Bit(fileName);
    if (name.contains('/'))
        return name;
    const QDir programDir(QCoreApplication::applicationDirPath());
    const QString beside = programDir.filePath(name);
    const QString installed =
        QDir(programDir.filePath(QStringLiteral(RMX7_DATA_DIR_FROM_BIN))).filePath(name);
    return QFileInfo::exists(beside) || !QFileInfo::exists(installed) ? beside : installed;
}

} // namespace platform

// --- Panels and the event loop ---

int DisplayPanel(int panel) {
    QWidget *window = platform::PanelWidget(panel);
    if (!window)
        return platform::kErrNoPanel;
    const QSize designed = window->size();
    window->show();
    window->resize(designed);
    return 0;
}

int DiscardPanel(int panel) {
    QWidget *window = platform::PanelWidget(panel);
    if (!window)
        return platform::kErrNoPanel;
    table.panels.erase(panel);
    // Inside a callback the widget that raised it may still be delivering its signal.
    if (loop.callbacks > 0) {
        window->hide();
        window->deleteLater();
    } else {
        delete window;
    }
    return 0;
}

int RunUserInterface() {
    QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher();
    if (!dispatcher)
        return platform::kErrNoEngine;
    loop.quit = false;
    while (!loop.quit) {
        QCoreApplication::sendPostedEvents();
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return loop.quitCode;
}

int QuitUserInterface(int code) {
    loop.quit     = true;
    loop.quitCode = code;
    if (QAbstractEventDispatcher *dispatcher = QThread::currentThread()->eventDispatcher())
        dispatcher->wakeUp();
    return 0;
}

// --- Values ---

int GetCtrlVal(int panel, int control, int *value) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!value)
        return platform::kErrBadArgument;
    return ReadNumber(found.widget, *value) ? 0 : platform::kErrWrongKind;
}

int GetCtrlVal(int panel, int control, unsigned short *value) {
    if (!value)
        return platform::kErrBadArgument;
    int number       = 0;
    const int result = GetCtrlVal(panel, control, &number);
    if (result == 0)
        *value = static_cast<unsigned short>(number);
    return result;
}

int GetCtrlVal(int panel, int control, char *text, int size) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!text || size <= 0)
        return platform::kErrBadArgument;
    if (auto *label = qobject_cast<QLabel *>(found.widget)) {
        CopyText(label->text(), text, size);
    } else if (auto *edit = qobject_cast<QLineEdit *>(found.widget)) {
        CopyText(edit->text(), text, size);
    } else {
        int number = 0;
        if (!ReadNumber(found.widget, number))
            return platform::kErrWrongKind;
        CopyText(QString::number(number), text, size);
    }
    return 0;
}

int SetCtrlVal(int panel, int control, int value) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    // The live loop writes nine numbers between a reply and the next request; painting
    // them now would hold that request back by milliseconds. Each control marks itself
    // for the next event processing, which every loop that writes them runs at once, and
    // only when its value changed: an unchanged number is not drawn again.
    return WriteNumber(found.widget, value) ? 0 : platform::kErrWrongKind;
}

int SetCtrlVal(int panel, int control, const char *text) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!text)
        return platform::kErrBadArgument;
    if (TraceIsStatusControl(panel, control))
        TraceStatus(text);
    if (!WriteText(found.widget, QString::fromUtf8(text)))
        return platform::kErrWrongKind;
    ShowAtOnce(found.widget);
    return 0;
}

// --- Rings ---

int ClearListCtrl(int panel, int control) {
    int error  = 0;
    auto *ring = FindAs<QComboBox>(panel, control, error);
    if (!ring)
        return error;
    ring->clear();
    platform::NoteRingSelection(ring);
    return 0;
}

int InsertListItem(int panel, int control, int index, const char *label, int value) {
    int error  = 0;
    auto *ring = FindAs<QComboBox>(panel, control, error);
    if (!ring)
        return error;
    if (!label || index < -1 || index > ring->count())
        return platform::kErrBadArgument;
    ring->insertItem(index < 0 ? ring->count() : index, QString::fromUtf8(label), value);
    platform::NoteRingSelection(ring);
    return 0;
}

// --- Attributes ---

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    // Each control redraws itself when a setting changes it; the plots write theirs on
    // every sample, and an unchanged one must cost nothing.
    return SetAttribute(found.widget, attribute, value);
}

int SetCtrlAttribute(int panel, int control, int attribute, const char *text) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!text)
        return platform::kErrBadArgument;
    if (attribute == kAttrToolTip) {
        found.widget->setToolTip(ToolTipOf(QString::fromUtf8(text)));
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
    if (attribute != kAttrTextFont || !IsTextControl(found.widget))
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
    FitText(found.widget);
    return 0;
}

int GetCtrlAttribute(int panel, int control, int attribute, int *value) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!value)
        return platform::kErrBadArgument;
    return GetAttribute(found.widget, attribute, *value) ? 0 : platform::kErrWrongKind;
}

int GetCtrlAttribute(int panel, int control, int attribute, char *text, int size) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    if (!text || size <= 0)
        return platform::kErrBadArgument;
    if (attribute != kAttrToolTip)
        return platform::kErrWrongKind;
    CopyText(QTextDocumentFragment::fromHtml(found.widget->toolTip()).toPlainText().trimmed(), text,
             size);
    return 0;
}

int NewCtrl(int panel, int style, const char *label, int top, int left) {
    platform::PanelRecord *record = platform::FindPanel(panel);
    if (!record)
        return platform::kErrNoPanel;
    if (style != kCtrlTextMsg)
        return platform::kErrWrongKind;
    const int id = record->controls.empty() ? 1 : record->controls.rbegin()->first + 1;
    auto *text   = new QLabel(QString::fromUtf8(label ? label : ""), record->top);
    text->setProperty(platform::kFitsTextProperty, true);
    text->setAttribute(Qt::WA_TransparentForMouseEvents);
    text->move(left, top);
    text->adjustSize();
    text->show();
    text->raise();
    record->controls[id] = text;
    return id;
}

// --- Plots ---

int PlotStripChart(int panel, int control, const void *values, int count, int start, int skip,
                   int dataType) {
    int error   = 0;
    auto *chart = FindAs<StripChart>(panel, control, error);
    if (!chart)
        return error;
    if (!values || count < 0 || start < 0 || skip < 0 || !IsPlotType(dataType))
        return platform::kErrBadArgument;
    chart->Append(TakeValues(values, count, start, skip, dataType));
    return 0;
}

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value) {
    int error   = 0;
    auto *chart = FindAs<StripChart>(panel, control, error);
    if (!chart)
        return error;
    if (attribute != kAttrTraceColor)
        return platform::kErrWrongKind;
    return chart->SetTraceColor(trace, Rgb(value)) ? 0 : platform::kErrBadArgument;
}

int PlotXY(int panel, int control, const void *x, const void *y, int n, int xType, int yType,
           int plotStyle, int pointStyle, int lineStyle, int pointFrequency, int color) {
    int error   = 0;
    auto *graph = FindAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (!x || !y || n < 0 || !IsPlotType(xType) || !IsPlotType(yType))
        return platform::kErrBadArgument;
    return graph->AddCurve(CurvePoints(x, n, xType), CurvePoints(y, n, yType),
                           StyleOf(plotStyle, pointStyle, lineStyle, pointFrequency, color));
}

int DeleteGraphPlot(int panel, int control, int plotHandle, int) {
    int error   = 0;
    auto *graph = FindAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (plotHandle == kAllPlots) {
        graph->DeleteAllCurves();
        return 0;
    }
    return graph->DeleteCurve(plotHandle) ? 0 : platform::kErrBadArgument;
}

int SetAxisScalingMode(int panel, int control, int axis, int mode, double min, double max) {
    int error   = 0;
    auto *graph = FindAs<XYGraph>(panel, control, error);
    if (!graph)
        return error;
    if (mode != kScaleManual || !(min < max))
        return platform::kErrBadArgument;
    if (axis == kAxisX)
        graph->SetXRange(min, max);
    else if (axis == kAxisLeftY)
        graph->SetYRange(min, max);
    else
        return platform::kErrBadArgument;
    return 0;
}

int DisplayImageFile(int panel, int control, const char *fileName) {
    int error     = 0;
    auto *picture = FindAs<QLabel>(panel, control, error);
    if (!picture)
        return error;
    QPixmap image;
    if (!fileName || !image.load(platform::ResolveProgramFile(fileName))) {
        picture->clear();
        return platform::kErrFileUnreadable;
    }
    picture->setPixmap(image);
    return 0;
}

constexpr int kMinImageWidth      = 200;
constexpr int kMinImageHeight     = 150;
constexpr int kDefaultImageWidth  = 800;
constexpr int kDefaultImageHeight = 500;

int SavePlotImage(int panel, int control, const char *path, int format) {
    const Control found = Find(panel, control);
    if (!found.widget)
        return found.error;
    auto *plot = found.widget->findChild<QCustomPlot *>();
    if (!plot)
        return platform::kErrWrongKind;
    if (!path || (format != kImagePng && format != kImagePdf))
        return platform::kErrBadArgument;
    // A plot never laid out on screen (a panel not shown yet) has no size worth a picture.
    const bool laidOut      = plot->width() >= kMinImageWidth && plot->height() >= kMinImageHeight;
    const int width         = laidOut ? plot->width() : kDefaultImageWidth;
    const int height        = laidOut ? plot->height() : kDefaultImageHeight;
    const QString temporary = QFile::decodeName(path) + ".part";
    const bool saved        = format == kImagePng ? plot->savePng(temporary, width, height)
                                                  : plot->savePdf(temporary, width, height);
    // rename(2) replaces an older file in one step, which QFile::rename does not.
    if (!saved || std::rename(QFile::encodeName(temporary).constData(), path) != 0) {
        QFile::remove(temporary);
        return platform::kErrFileWrite;
    }
    return 0;
}

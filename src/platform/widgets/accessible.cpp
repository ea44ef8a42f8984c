// The accessible interfaces of the indicator, the LED and the plots. The name and the
// description come from the panel file's accessible name and description; the value is
// read from the widget when a client asks, so nothing is formatted for nobody.
#include "accessible.h"

#include "indicator.h"
#include "led.h"
#include "strip_chart.h"
#include "xy_graph.h"

#include <QAccessibleWidget>

namespace {

// A read-only value shown as a label. The inner widgets that draw it are not parts of
// its own a reader should visit.
class ValueAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit ValueAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::StaticText) {}

    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly           = true;
        return state;
    }

    QString text(QAccessible::Text kind) const override {
        return kind == QAccessible::Value ? ValueText() : QAccessibleWidget::text(kind);
    }

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QVariant currentValue() const override { return Number(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return High(); }
    QVariant minimumValue() const override { return Low(); }
    QVariant minimumStepSize() const override { return 1; }

  protected:
    virtual int Number() const        = 0;
    virtual int Low() const           = 0;
    virtual int High() const          = 0;
    virtual QString ValueText() const = 0;
};

class IndicatorAccessible : public ValueAccessible {
  public:
    explicit IndicatorAccessible(Indicator *indicator)
        : ValueAccessible(indicator), indicator_(indicator) {}

  protected:
    int Number() const override { return indicator_->Value(); }
    int Low() const override { return indicator_->Minimum(); }
    int High() const override { return indicator_->Maximum(); }
    QString ValueText() const override { return QString::number(indicator_->Value()); }

  private:
    Indicator *indicator_;
};

class LedAccessible : public ValueAccessible {
  public:
    explicit LedAccessible(Led *led) : ValueAccessible(led), led_(led) {}

  protected:
    int Number() const override { return led_->IsOn() ? 1 : 0; }
    int Low() const override { return 0; }
    int High() const override { return 1; }
    QString ValueText() const override { return led_->IsOn() ? Led::tr("on") : Led::tr("off"); }

  private:
    Led *led_;
};

// A plot is one picture to a reader: its name says what it shows.
class PlotAccessible : public QAccessibleWidget {
  public:
    explicit PlotAccessible(QWidget *plot) : QAccessibleWidget(plot, QAccessible::Chart) {}

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
};

QAccessibleInterface *CreateInterface(const QString &, QObject *object) {
    if (auto *indicator = qobject_cast<Indicator *>(object))
        return new IndicatorAccessible(indicator);
    if (auto *led = qobject_cast<Led *>(object))
        return new LedAccessible(led);
    if (qobject_cast<StripChart *>(object) || qobject_cast<XYGraph *>(object))
        return new PlotAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

void platform::InstallWidgetAccessibility() {
    QAccessible::installFactory(CreateInterface);
}

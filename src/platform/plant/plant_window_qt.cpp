// The plant window over Qt's model/view: a table model that holds the caller's order and
// asks for a row's cells only when the view draws the row, a delegate that draws the live
// value with its trend and LEDs, and the controls around them.
#include "plant_window.h"

#include "panel/dialogs.h"
#include "plant/closing_frame.h"
#include "trace.h"
#include "widgets/tooltip.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <optional>
#include <unordered_map>

namespace plantview {

namespace {

constexpr int kTickMs       = 100; // at most ten repaints a second
constexpr int kLogLines     = 2000;
constexpr int kReasonsShown = 6; // in an action's tooltip, then "and N more"
const QSize kDesignedSize(1200, 780);
const QSize kLeastContent(960, 520); // below this the window scrolls
constexpr int kLedDiameter = 10;
constexpr int kCellPadding = 4;
const QColor kLedOn(0x00, 0xd0, 0x00);
const QColor kLedOff(0x30, 0x38, 0x30);
const QColor kTrendPen(0xff, 0x00, 0x00);
const int kColumnWidths[kColumns] = {90, 290, 180, 220, 200, 70, 160, 220, 240};

QString Q(const std::string &text) {
    return QString::fromStdString(text);
}

QColor Rgb(unsigned colour) {
    return QColor(static_cast<int>(colour >> 16 & 0xFF), static_cast<int>(colour >> 8 & 0xFF),
                  static_cast<int>(colour & 0xFF));
}

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool SameCell(const Cell &a, const Cell &b) {
    return a.text == b.text && a.tip == b.tip && a.accessible == b.accessible &&
           a.background == b.background;
}

// The rows in the caller's order; a row's cells are asked for when the view first draws it
// after a change, and kept until the next change.
class TableModel : public QAbstractTableModel {
  public:
    TableModel(const Layout &layout, std::function<RowCells(const std::string &)> fetch,
               QObject *parent)
        : QAbstractTableModel(parent), fetch_(std::move(fetch)) {
        for (int i = 0; i < kColumns; ++i)
            headers_[i] = Q(layout.headers[i]);
    }

    int rowCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(keys_.size());
    }
    int columnCount(const QModelIndex &parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }

    QVariant data(const QModelIndex &index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount({}))
            return {};
        const Cell &cell = Cells(index.row()).cells[index.column()];
        switch (role) {
        case Qt::DisplayRole:
            return Q(cell.text);
        case Qt::ToolTipRole:
            return platform::ToolTipHtml(Q(cell.tip));
        case Qt::AccessibleTextRole:
            return Q(cell.accessible.empty() ? cell.text : cell.accessible);
        case Qt::BackgroundRole:
            return cell.background ? QVariant(QBrush(Rgb(cell.background))) : QVariant();
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && section >= 0 && section < kColumns &&
            (role == Qt::DisplayRole || role == Qt::AccessibleTextRole))
            return headers_[section];
        if (orientation == Qt::Vertical && role == Qt::DisplayRole)
            return section + 1;
        return {};
    }

    const RowCells &Cells(int row) const {
        std::optional<RowCells> &cells = cells_[row];
        if (!cells)
            cells = fetch_(keys_[row]);
        return *cells;
    }
    const std::string &Key(int row) const { return keys_[row]; }
    int RowOf(const std::string &key) const {
        const auto found = rows_.find(key);
        return found == rows_.end() ? -1 : found->second;
    }

    // The same keys in another order move the rows, and the selection and the current row
    // with them; other keys make a new table (true), whose selection the caller restores.
    bool SetOrder(const std::vector<std::string> &keys) {
        if (keys == keys_)
            return false;
        const bool sameRows = keys.size() == keys_.size() &&
                              std::all_of(keys.begin(), keys.end(),
                                          [&](const std::string &key) { return RowOf(key) >= 0; });
        std::vector<std::string> before = keys_;
        std::vector<std::optional<RowCells>> kept(keys.size());
        for (std::size_t i = 0; i < keys.size(); ++i)
            if (const int row = RowOf(keys[i]); row >= 0)
                kept[i] = std::move(cells_[row]);
        if (sameRows) {
            emit layoutAboutToBeChanged();
            const QModelIndexList old = persistentIndexList();
            Take(keys, std::move(kept));
            QModelIndexList now;
            for (const QModelIndex &index : old)
                now << this->index(RowOf(before[index.row()]), index.column());
            changePersistentIndexList(old, now);
            emit layoutChanged();
            return false;
        }
        beginResetModel();
        Take(keys, std::move(kept));
        endResetModel();
        return true;
    }

    // The row of key is to be asked for again when it is drawn next; its row, or -1.
    int Invalidate(const std::string &key) {
        const int row = RowOf(key);
        if (row >= 0)
            cells_[row].reset();
        return row;
    }

    // The row of key on screen: its cells asked for now and only the cells that changed
    // repainted, since a change of a row is mostly its live value.
    void Refresh(int row) {
        std::optional<RowCells> &kept = cells_[row];
        RowCells now                  = fetch_(keys_[row]);
        for (int column = 0; column < kColumns; ++column)
            if (!kept || !SameCell(kept->cells[column], now.cells[column]) ||
                (column == kTrendColumn &&
                 (kept->trend.values != now.trend.values || kept->trend.leds != now.trend.leds)))
                emit dataChanged(index(row, column), index(row, column));
        kept = std::move(now);
    }

  private:
    void Take(const std::vector<std::string> &keys, std::vector<std::optional<RowCells>> cells) {
        keys_  = keys;
        cells_ = std::move(cells);
        rows_.clear();
        for (std::size_t i = 0; i < keys_.size(); ++i)
            rows_[keys_[i]] = static_cast<int>(i);
    }

    std::array<QString, kColumns> headers_;
    std::function<RowCells(const std::string &)> fetch_;
    std::vector<std::string> keys_;
    std::unordered_map<std::string, int> rows_;
    mutable std::vector<std::optional<RowCells>> cells_;
};

// The live value: its text, the trend of the last 30 s beside it, the two state LEDs at the
// right end. Drawing it is when the row shows its message, which the trace tells.
class TrendDelegate : public QStyledItemDelegate {
  public:
    TrendDelegate(TableModel *model, QObject *parent)
        : QStyledItemDelegate(parent), model_(model) {}

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override {
        QStyleOptionViewItem item = option;
        initStyleOption(&item, index);
        item.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style         = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);
        const RowCells &row = model_->Cells(index.row());
        const QRect area    = option.rect.adjusted(kCellPadding, 1, -kCellPadding, -1);
        const int textWidth = option.fontMetrics.horizontalAdvance(QStringLiteral("000000"));
        const bool selected = option.state & QStyle::State_Selected;
        painter->save();
        painter->setPen(
            option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(QRect(area.left(), area.top(), textWidth, area.height()),
                          Qt::AlignRight | Qt::AlignVCenter, Q(row.cells[kTrendColumn].text));
        int right = area.right();
        if (row.trend.leds >= 0)
            right = DrawLeds(painter, area, row.trend.leds);
        DrawTrend(painter,
                  QRect(QPoint(area.left() + textWidth + kCellPadding, area.top() + 2),
                        QPoint(right - kCellPadding, area.bottom() - 2)),
                  row.trend.values);
        painter->restore();
        if (TraceEnabled() && !row.shown.empty())
            TraceShown((row.shown + " " + std::to_string(UnixNow())).c_str());
    }

  private:
    // Two LEDs, bit 0 then bit 1; the left edge they leave.
    static int DrawLeds(QPainter *painter, const QRect &area, int leds) {
        painter->setRenderHint(QPainter::Antialiasing, true);
        int left = area.right();
        for (int bit = 1; bit >= 0; --bit) {
            left -= kLedDiameter + 2;
            const QRect lamp(left, area.center().y() - kLedDiameter / 2, kLedDiameter,
                             kLedDiameter);
            painter->setPen(QPen(Qt::black, 1));
            painter->setBrush(leds >> bit & 1 ? kLedOn : kLedOff);
            painter->drawEllipse(lamp);
        }
        painter->setRenderHint(QPainter::Antialiasing, false);
        return left;
    }

    static void DrawTrend(QPainter *painter, const QRect &area, const std::vector<double> &values) {
        if (values.size() < 2 || area.width() < 4 || area.height() < 4)
            return;
        const auto [low, high] = std::minmax_element(values.begin(), values.end());
        const double span      = std::max(1.0, *high - *low);
        QPolygonF line;
        line.reserve(static_cast<int>(values.size()));
        const double step = static_cast<double>(area.width()) / (values.size() - 1);
        for (std::size_t i = 0; i < values.size(); ++i)
            line << QPointF(area.left() + i * step,
                            area.bottom() - (values[i] - *low) / span * area.height());
        painter->setPen(QPen(kTrendPen, 1));
        painter->drawPolyline(line);
    }

    TableModel *model_;
};

// A label that names the control after it and moves the focus there with its Alt letter.
QLabel *Caption(const QString &text, QWidget *buddy, QWidget *parent) {
    auto *label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

struct PlantWindow::Impl {
    Layout layout;
    Callbacks callbacks;
    QPointer<ClosingFrame> frame;
    TableModel *model       = nullptr;
    QTableView *table       = nullptr;
    QLabel *summary         = nullptr;
    QLineEdit *nameFilter   = nullptr;
    QComboBox *statusFilter = nullptr;
    QComboBox *sortBy       = nullptr;
    QCheckBox *descending   = nullptr;
    QPlainTextEdit *log     = nullptr;
    std::vector<QPushButton *> buttons;
    QTimer tick;
    bool actionsStale = true;
    int sortColumn    = 0;

    void Build();
    QWidget *FilterRow(QWidget *parent);
    QWidget *ActionRow(QWidget *parent);
    void BuildTable(QWidget *parent);
    std::vector<std::string> Selected() const;
    // Whether any selected row allows action i, and the reasons of those that do not.
    std::pair<bool, QString> ActionOn(int action, const std::vector<std::string> &keys) const;
    void RefreshActions();
    void Act(int action);
    void Sorted(int column, bool descending);
    void Filtered();
    void ContextMenu(const QPoint &position);
    std::pair<int, int> RowsOnScreen() const;
};

void PlantWindow::Impl::Build() {
    frame = new ClosingFrame;
    frame->setWindowTitle(Q(layout.title));
    frame->setAccessibleName(Q(layout.title));
    auto *outer  = new QVBoxLayout(frame);
    auto *scroll = new QScrollArea(frame);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    // Tab moves through the controls, and the area scrolls to the one that has the focus.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setAccessibleName(QObject::tr("Plant"));
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto *content = new QWidget;
    content->setMinimumSize(kLeastContent);
    auto *column = new QVBoxLayout(content);
    summary      = new QLabel(content);
    summary->setTextFormat(Qt::PlainText);
    QFont bold = summary->font();
    bold.setBold(true);
    summary->setFont(bold);
    summary->setAccessibleName(QObject::tr("Summary"));
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(summary);
    column->addWidget(FilterRow(content));
    column->addWidget(ActionRow(content));
    auto *split = new QSplitter(Qt::Vertical, content);
    BuildTable(split);
    log = new QPlainTextEdit(split);
    log->setReadOnly(true);
    log->setMaximumBlockCount(kLogLines);
    log->setAccessibleName(QObject::tr("Log"));
    log->setToolTip(QObject::tr("What the broker, the lines and the actions did, newest last"));
    split->addWidget(table);
    split->addWidget(log);
    split->setStretchFactor(0, 4);
    split->setStretchFactor(1, 1);
    column->addWidget(split, 1);
    scroll->setWidget(content);
    frame->closed = [this] {
        if (callbacks.closed)
            callbacks.closed();
    };
    new QShortcut(QKeySequence::Find, frame, [this] { nameFilter->setFocus(); });
    auto *close = new QShortcut(QKeySequence::Close, frame);
    QObject::connect(close, &QShortcut::activated, frame.data(), &QWidget::close);
    tick.setInterval(kTickMs);
    QObject::connect(&tick, &QTimer::timeout, [this] {
        if (callbacks.tick)
            callbacks.tick();
        if (actionsStale)
            RefreshActions();
    });
    tick.start();
}

QWidget *PlantWindow::Impl::FilterRow(QWidget *parent) {
    auto *row  = new QWidget(parent);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    nameFilter = new QLineEdit(row);
    nameFilter->setPlaceholderText(QObject::tr("part of a name, or a pattern: line*"));
    nameFilter->setAccessibleName(QObject::tr("Name filter"));
    nameFilter->setClearButtonEnabled(true);
    statusFilter = new QComboBox(row);
    statusFilter->setAccessibleName(QObject::tr("Status filter"));
    for (const std::string &choice : layout.statusFilters)
        statusFilter->addItem(Q(choice));
    sortBy = new QComboBox(row);
    sortBy->setAccessibleName(QObject::tr("Sort by"));
    for (const std::string &header : layout.headers)
        sortBy->addItem(Q(header));
    descending = new QCheckBox(QObject::tr("Descendin&g"), row);
    descending->setAccessibleName(QObject::tr("Descending"));
    line->addWidget(Caption(QObject::tr("&Name:"), nameFilter, row));
    line->addWidget(nameFilter, 1);
    line->addWidget(Caption(QObject::tr("Stat&us:"), statusFilter, row));
    line->addWidget(statusFilter);
    line->addWidget(Caption(QObject::tr("Sort &by:"), sortBy, row));
    line->addWidget(sortBy);
    line->addWidget(descending);
    QObject::connect(nameFilter, &QLineEdit::textChanged, [this] { Filtered(); });
    QObject::connect(statusFilter, &QComboBox::currentIndexChanged, [this] { Filtered(); });
    QObject::connect(sortBy, &QComboBox::currentIndexChanged,
                     [this](int column) { Sorted(column, descending->isChecked()); });
    QObject::connect(descending, &QCheckBox::toggled,
                     [this](bool down) { Sorted(sortColumn, down); });
    return row;
}

QWidget *PlantWindow::Impl::ActionRow(QWidget *parent) {
    auto *row  = new QWidget(parent);
    auto *line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    for (std::size_t i = 0; i < layout.actions.size(); ++i) {
        const ActionText &text = layout.actions[i];
        auto *button           = new QPushButton(Q(text.label), row);
        button->setAccessibleName(Q(text.name));
        button->setEnabled(false);
        QObject::connect(button, &QPushButton::clicked, [this, i] { Act(static_cast<int>(i)); });
        buttons.push_back(button);
        line->addWidget(button);
    }
    line->addStretch(1);
    return row;
}

void PlantWindow::Impl::BuildTable(QWidget *parent) {
    table = new QTableView(parent);
    model = new TableModel(layout, callbacks.row, table);
    table->setModel(model);
    table->setItemDelegateForColumn(kTrendColumn, new TrendDelegate(model, table));
    table->setAccessibleName(QObject::tr("Lines"));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table->setWordWrap(false);
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    // Fixed heights and widths: the view never asks every row for its size.
    QHeaderView *rows = table->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(table->fontMetrics().height() + 8);
    rows->hide();
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    for (int i = 0; i < kColumns; ++i)
        header->resizeSection(i, kColumnWidths[i]);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(0, Qt::AscendingOrder);
    header->setSectionsClickable(true);
    QObject::connect(header, &QHeaderView::sectionClicked, [this](int column) {
        Sorted(column, column == sortColumn ? !descending->isChecked() : false);
    });
    QObject::connect(table->selectionModel(), &QItemSelectionModel::selectionChanged,
                     [this] { RefreshActions(); });
    QObject::connect(table, &QWidget::customContextMenuRequested,
                     [this](const QPoint &position) { ContextMenu(position); });
}

std::vector<std::string> PlantWindow::Impl::Selected() const {
    QModelIndexList rows = table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    std::vector<std::string> keys;
    for (const QModelIndex &index : rows)
        keys.push_back(model->Key(index.row()));
    return keys;
}

std::pair<bool, QString> PlantWindow::Impl::ActionOn(int action,
                                                     const std::vector<std::string> &keys) const {
    bool any = false;
    QStringList reasons;
    int more = 0;
    for (const std::string &key : keys) {
        const int row = model->RowOf(key);
        if (row < 0)
            continue;
        const std::vector<ActionState> &states = model->Cells(row).actions;
        const ActionState state =
            action < static_cast<int>(states.size()) ? states[action] : ActionState{};
        any = any || state.allowed;
        if (state.allowed)
            continue;
        if (reasons.size() < kReasonsShown)
            reasons << Q(key) + ": " + Q(state.why);
        else
            ++more;
    }
    if (more > 0)
        reasons << QObject::tr("and %1 more").arg(more);
    return {any, reasons.join('\n')};
}

void PlantWindow::Impl::RefreshActions() {
    actionsStale                        = false;
    const std::vector<std::string> keys = Selected();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const auto [allowed, reasons] = ActionOn(static_cast<int>(i), keys);
        buttons[i]->setEnabled(allowed);
        QString tip = Q(layout.actions[i].tip);
        if (keys.empty())
            tip += "\n" + QObject::tr("Select one or more lines first.");
        else if (!reasons.isEmpty())
            tip += "\n" + QObject::tr("Not for:") + "\n" + reasons;
        buttons[i]->setToolTip(platform::ToolTipHtml(tip));
    }
}

void PlantWindow::Impl::Act(int action) {
    if (callbacks.act)
        callbacks.act(action, Selected());
}

void PlantWindow::Impl::Sorted(int column, bool down) {
    sortColumn = column;
    for (QObject *control : {static_cast<QObject *>(sortBy), static_cast<QObject *>(descending)})
        control->blockSignals(true);
    sortBy->setCurrentIndex(column);
    descending->setChecked(down);
    for (QObject *control : {static_cast<QObject *>(sortBy), static_cast<QObject *>(descending)})
        control->blockSignals(false);
    table->horizontalHeader()->setSortIndicator(column,
                                                down ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (callbacks.sort)
        callbacks.sort(column, down);
}

void PlantWindow::Impl::Filtered() {
    if (callbacks.filter)
        callbacks.filter(nameFilter->text().toStdString(), statusFilter->currentIndex());
}

// The row under the pointer, or the current one from the keyboard, joins the selection;
// the menu offers what the selection allows, each dimmed item saying why.
void PlantWindow::Impl::ContextMenu(const QPoint &position) {
    QModelIndex index = table->indexAt(position);
    if (!index.isValid())
        index = table->currentIndex();
    if (!index.isValid())
        return;
    if (!table->selectionModel()->isRowSelected(index.row(), {}))
        table->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect |
                                                   QItemSelectionModel::Rows);
    const std::vector<std::string> keys = Selected();
    auto *menu                          = new QMenu(table);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setToolTipsVisible(true);
    menu->setAccessibleName(QObject::tr("Actions"));
    for (std::size_t i = 0; i < layout.actions.size(); ++i) {
        const auto [allowed, reasons] = ActionOn(static_cast<int>(i), keys);
        QAction *item                 = menu->addAction(Q(layout.actions[i].label));
        item->setEnabled(allowed);
        item->setToolTip(
            platform::ToolTipHtml(reasons.isEmpty() ? Q(layout.actions[i].tip) : reasons));
        QObject::connect(item, &QAction::triggered, [this, i] { Act(static_cast<int>(i)); });
    }
    const QRect cell = table->visualRect(index);
    menu->popup(table->viewport()->mapToGlobal(table->indexAt(position).isValid() ? position
                                                                                  : cell.center()));
}

std::pair<int, int> PlantWindow::Impl::RowsOnScreen() const {
    const int first = table->rowAt(0);
    if (first < 0)
        return {0, -1};
    const int last = table->rowAt(table->viewport()->height() - 1);
    return {first, last < 0 ? model->rowCount({}) - 1 : last};
}

PlantWindow::PlantWindow(const Layout &layout, Callbacks callbacks)
    : impl_(std::make_unique<Impl>()) {
    impl_->layout    = layout;
    impl_->callbacks = std::move(callbacks);
    impl_->Build();
}

PlantWindow::~PlantWindow() {
    impl_->tick.stop();
    delete impl_->frame.data();
}

void PlantWindow::Show() {
    ClosingFrame *frame  = impl_->frame;
    const QScreen *where = QApplication::primaryScreen();
    const QSize room     = where ? where->availableSize() : kDesignedSize;
    if (room.width() >= kDesignedSize.width() && room.height() >= kDesignedSize.height()) {
        frame->resize(kDesignedSize);
        frame->show();
    } else {
        frame->showMaximized();
    }
}

void PlantWindow::Raise() {
    impl_->frame->show();
    impl_->frame->raise();
    impl_->frame->activateWindow();
}

// Lines that come, go or are filtered out make a new table: the lines that stay keep their
// selection, the current line and the scroll position, so the operator's place holds.
void PlantWindow::SetOrder(const std::vector<std::string> &keys) {
    Impl &d                                 = *impl_;
    const std::vector<std::string> selected = d.Selected();
    const QModelIndex current               = d.table->currentIndex();
    const std::string currentKey            = current.isValid() ? d.model->Key(current.row()) : "";
    const int scrolled                      = d.table->verticalScrollBar()->value();
    d.actionsStale                          = true;
    if (!d.model->SetOrder(keys))
        return;
    QItemSelection selection;
    for (const std::string &key : selected)
        if (const int row = d.model->RowOf(key); row >= 0)
            selection.select(d.model->index(row, 0), d.model->index(row, kColumns - 1));
    d.table->selectionModel()->select(selection, QItemSelectionModel::Select);
    if (const int row = currentKey.empty() ? -1 : d.model->RowOf(currentKey); row >= 0)
        d.table->selectionModel()->setCurrentIndex(d.model->index(row, current.column()),
                                                   QItemSelectionModel::NoUpdate);
    d.table->verticalScrollBar()->setValue(scrolled);
}

void PlantWindow::Changed(const std::vector<std::string> &keys) {
    const auto [first, last] = impl_->RowsOnScreen();
    TableModel &model        = *impl_->model;
    for (const std::string &key : keys) {
        const int row = model.RowOf(key);
        if (row >= first && row <= last)
            model.Refresh(row);
        else
            model.Invalidate(key);
    }
    impl_->actionsStale = true;
}

void PlantWindow::SetSummary(const std::string &text) {
    impl_->summary->setText(Q(text));
}

void PlantWindow::Log(const std::string &line) {
    impl_->log->appendPlainText(Q(line));
}

void PlantWindow::Ask(const std::string &title, const std::string &question,
                      std::function<void(bool yes)> answer) {
    auto *box = new QMessageBox(QMessageBox::Question, Q(title), Q(question),
                                QMessageBox::Yes | QMessageBox::No, impl_->frame);
    // Names and texts come from the broker: shown as they are, never taken for markup that
    // could hide a line the question names.
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(QMessageBox::No);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QObject::connect(box, &QMessageBox::finished, [box, answer = std::move(answer)] {
        answer(box->clickedButton() == box->button(QMessageBox::Yes));
    });
    box->open();
}

void PlantWindow::ChooseFolder(const std::string &title, const std::string &start,
                               std::function<void(const std::string &folder)> chosen) {
    if (const FileSelectResponder responder = GetFileSelectResponder()) {
        char path[kPathSize] = {};
        const int answer     = responder(title.c_str(), kButtonOk, path);
        QMetaObject::invokeMethod(
            impl_->frame,
            [chosen = std::move(chosen), folder = answer > 0 ? std::string(path) : ""] {
                chosen(folder);
            },
            Qt::QueuedConnection);
        return;
    }
    auto *dialog = new QFileDialog(impl_->frame, Q(title), Q(start));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    auto answered = std::make_shared<bool>(false);
    QObject::connect(dialog, &QFileDialog::fileSelected, [chosen, answered](const QString &path) {
        *answered = true;
        chosen(path.toStdString());
    });
    QObject::connect(dialog, &QDialog::finished, [chosen, answered] {
        if (!*answered)
            chosen("");
    });
    dialog->open();
}

} // namespace plantview

// The commissioning report over Qt: the text and tables as one text document laid out on
// A4 pages, the data curve as a vector object inside it, the foot of each page painted
// beside it, all through Qt's PDF writer in its PDF/A-1b mode into memory; then the
// author, then the file written whole.
#include "pdf_report.h"

#include "files/textfile.h"
#include "pdf_author.h"
#include "report_chart.h"
#include "text.h"

#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Millimetres: room for a binder's holes on the left, the foot in the bottom margin.
const QMarginsF kPageMargins(20, 15, 15, 10);
// The painter draws in device pixels of the writer's resolution; Px gives them from
// points. Lengths in the HTML are CSS pixels (1/96 inch), which the layout scales.
constexpr int kDotsPerInch   = 1200;
constexpr double kFootHeight = 24; // points, at the bottom of the margins' area
constexpr double kBodyFont = 9, kFootFont = 7.5;
// The chart's height against its width, as the panel's graph.
constexpr double kChartAspect = 0.62;
// Marks the chart's place in the document; a name no text of the caller can produce.
const QString kChartName         = QStringLiteral("rmx7-report-chart");
constexpr const char *kDifferRow = "#fbe3e0";

int Px(double points) {
    return static_cast<int>(points * kDotsPerInch / 72.0 + 0.5);
}

const QString kStyleSheet =
    QStringLiteral("h1 { font-size: 16pt; margin-bottom: 10px; }"
                   "h2 { font-size: 11pt; margin-top: 20px; margin-bottom: 6px; }"
                   "th { background-color: #e6e6e6; font-weight: bold; }"
                   ".label { color: #505050; }"
                   ".number { font-family: 'DejaVu Sans Mono'; }"
                   ".mark { color: #b00000; font-weight: bold; }"
                   ".small { font-size: 7.5pt; color: #505050; }");

// The opening of a ruled table across the page; padding in CSS pixels.
QString RuledTable(int padding) {
    return QStringLiteral("<table width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"%1\" "
                          "style=\"border-collapse: collapse; border-color: #909090;\">")
        .arg(padding);
}

// A font of the report: ligatures off, so that a reader of the file's text finds every
// word as it was written ("differs", not "di\ufb00ers").
QFont ReportFont(const QString &family, double points) {
    QFont font(family);
    font.setPointSizeF(points);
    font.setStyleStrategy(QFont::PreferNoShaping);
    return font;
}

QString Html(const std::string &text) {
    return QString::fromStdString(text).toHtmlEscaped();
}

QString Number(unsigned value) {
    return QStringLiteral("<span class=\"number\">%1</span>").arg(value);
}

QString HeadingHtml(const ReportDocument &document) {
    QString html = QStringLiteral("<h1>%1</h1>").arg(Html(document.title));
    html += QStringLiteral("<table cellspacing=\"0\" cellpadding=\"2\">");
    for (const ReportHeaderRow &row : document.header)
        html += QStringLiteral("<tr><td class=\"label\" width=\"130\">%1</td><td>%2</td></tr>")
                    .arg(Html(row.label), Html(PrintableText(row.value)));
    return html + QStringLiteral("</table>");
}

QString ParameterTableHtml(const ReportParameterTable &table) {
    const bool file = !table.fileName.empty();
    QString html =
        QStringLiteral("<h2>Parameters</h2>") + RuledTable(3) +
        QStringLiteral("<thead><tr><th width=\"7%\">Word</th><th>Name</th>"
                       "<th>Panel label</th><th width=\"9%\">RAM</th>"
                       "<th width=\"10%\">EEPROM</th><th width=\"13%\">RAM / EEPROM</th>");
    if (table.panelColumn)
        html += QStringLiteral("<th colspan=\"2\">Panel</th>");
    if (file)
        html += QStringLiteral("<th width=\"8%\">File</th>");
    if (table.approvedColumn)
        html += QStringLiteral("<th width=\"10%\">Approved</th>");
    html += QStringLiteral("</tr></thead>");
    int differing = 0;
    for (const ReportParameterRow &row : table.rows) {
        const bool differs = row.ram != row.eeprom;
        differing += differs ? 1 : 0;
        html += differs ? QStringLiteral("<tr bgcolor=\"%1\">").arg(kDifferRow)
                        : QStringLiteral("<tr>");
        html += QStringLiteral("<td align=\"right\">%1</td><td>%2</td><td>%3</td>"
                               "<td align=\"right\">%4</td><td align=\"right\">%5</td>"
                               "<td align=\"center\">%6</td>")
                    .arg(row.word)
                    .arg(Html(row.name), Html(row.panelLabel), Number(row.ram), Number(row.eeprom),
                         differs ? QStringLiteral("<span class=\"mark\">&#8800; differs</span>")
                                 : QString());
        if (table.panelColumn)
            html +=
                QStringLiteral("<td align=\"right\" width=\"8%\">%1</td><td width=\"11%\">%2</td>")
                    .arg(row.panelLabel.empty() ? QString() : Number(row.panel),
                         row.notSent ? QStringLiteral("<span class=\"mark\">not sent</span>")
                                     : QString());
        if (file)
            html += QStringLiteral("<td align=\"right\">%1</td>").arg(Number(row.file));
        if (table.approvedColumn)
            html += !table.hasApproved ? QStringLiteral("<td align=\"right\">-</td>")
                    : row.approved != row.eeprom
                        ? QStringLiteral("<td align=\"right\"><span class=\"mark\">%1</span></td>")
                              .arg(Number(row.approved))
                        : QStringLiteral("<td align=\"right\">%1</td>").arg(Number(row.approved));
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table><p style=\"margin-top: 6px;\">");
    html += differing == 0
                ? QStringLiteral("RAM and EEPROM hold the same %1 words.").arg(table.rows.size())
                : QStringLiteral("RAM and EEPROM differ in %1 of %2 words (marked).")
                      .arg(differing)
                      .arg(table.rows.size());
    if (table.panelColumn)
        html += QStringLiteral(
            " <span class=\"mark\">not sent</span>: a value typed on the panel and not yet sent "
            "to the controller or a file.");
    if (file)
        html +=
            QStringLiteral(" File: the values of the parameter file %1.").arg(Html(table.fileName));
    if (table.approvedColumn)
        html += table.hasApproved
                    ? QStringLiteral(" Approved: the line's approved set (%1); a value marked "
                                     "differs from EEPROM's.")
                          .arg(Html(table.approvedNote))
                    : QStringLiteral(" Approved: the line's parameter server keeps no approved "
                                     "set.");
    return html + QStringLiteral("</p>");
}

// What each word is: its unit and meaning, words that share both in one row ("11-15").
QString WordsHtml(const std::vector<ReportParameterRow> &rows) {
    const bool any = std::any_of(rows.begin(), rows.end(), [](const ReportParameterRow &row) {
        return !row.meaning.empty() || !row.unit.empty();
    });
    if (!any)
        return {};
    QString html = QStringLiteral("<h2 style=\"page-break-before: always;\">The parameter "
                                  "words</h2><p>What the program knows of each word of the set "
                                  "and its unit where it is known.</p>") +
                   RuledTable(3) +
                   QStringLiteral("<thead><tr><th width=\"7%\">Word</th><th width=\"20%\">Name"
                                  "</th><th width=\"11%\">Unit</th><th>Meaning</th></tr></thead>");
    for (std::size_t first = 0; first < rows.size();) {
        std::size_t last = first;
        while (last + 1 < rows.size() && rows[last + 1].unit == rows[first].unit &&
               rows[last + 1].meaning == rows[first].meaning)
            ++last;
        const ReportParameterRow &a = rows[first], &b = rows[last];
        const QString words = first == last ? QString::number(a.word)
                                            : QStringLiteral("%1-%2").arg(a.word).arg(b.word);
        const QString names =
            first == last ? Html(a.name) : Html(a.name) + QStringLiteral(" to ") + Html(b.name);
        html += QStringLiteral("<tr><td align=\"right\">%1</td><td>%2</td>"
                               "<td>%3</td><td>%4</td></tr>")
                    .arg(words, names, a.unit.empty() ? QStringLiteral("-") : Html(a.unit),
                         Html(a.meaning));
        first = last + 1;
    }
    return html + QStringLiteral("</table>");
}

QString FingerprintHtml(const std::string &fingerprint) {
    return QStringLiteral("<h2>Fingerprint of the EEPROM set</h2>"
                          "<p><span class=\"number\" style=\"font-size: 10pt;\">%1</span><br>"
                          "<span class=\"small\">SHA-256 of the sixteen words in frame order, "
                          "each high byte first.</span></p>")
        .arg(Html(fingerprint));
}

// The line's newest audit records, a line each, in a small fixed font.
QString AuditHtml(const ReportDocument &document) {
    if (!document.auditShown)
        return {};
    QString html = QStringLiteral("<h2>Audit trail</h2>");
    if (document.audit.empty())
        return html + QStringLiteral("<p>No write to this line's controller is recorded.</p>");
    html += QStringLiteral("<p>The newest writes to this line's controller, oldest first.</p>"
                           "<p class=\"small\" style=\"font-family: monospace;\">");
    for (const std::string &record : document.audit)
        html += Html(PrintableText(record)) + QStringLiteral("<br>");
    return html + QStringLiteral("</p>");
}

QString CaptureHtml(const ReportCapture &capture) {
    QString html = QStringLiteral("<h2 style=\"page-break-before: always;\">Data curve</h2>");
    if (!capture.present)
        return html + QStringLiteral("<p>%1</p>").arg(Html(capture.absentNote));
    html += QStringLiteral("<p>Source %1, captured %2.</p>")
                .arg(Html(capture.source), Html(capture.taken));
    return html + QStringLiteral("<p><img src=\"%1\"></p>").arg(kChartName);
}

QString NoteAndSignaturesHtml(const std::string &note) {
    QString html = QStringLiteral("<h2>Note</h2><p>%1</p>")
                       .arg(note.empty() ? QStringLiteral("None.")
                                         : Html(note).replace('\n', QStringLiteral("<br>")));
    html += QStringLiteral("<h2>Signatures</h2>") + RuledTable(5) +
            QStringLiteral("<tr><th width=\"22%\"></th><th width=\"30%\">Name</th>"
                           "<th width=\"16%\">Date</th><th>Signature</th></tr>");
    for (const char *role : {"Commissioned by", "Accepted by"})
        html += QStringLiteral("<tr><td style=\"padding-top: 22px; padding-bottom: 22px;\">"
                               "<b>%1</b></td><td></td><td></td><td></td></tr>")
                    .arg(QLatin1String(role));
    return html + QStringLiteral("</table>");
}

// The chart's image placeholder becomes the chart object.
void PlaceChart(QTextDocument &text, const ReportCapture &capture) {
    const QSizeF size(text.pageSize().width(), text.pageSize().width() * kChartAspect);
    text.documentLayout()->registerHandler(ReportChart::kObjectType,
                                           new ReportChart(capture, size, &text));
    for (QTextBlock block = text.begin(); block.isValid(); block = block.next())
        for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
            const QTextCharFormat format = fragment.fragment().charFormat();
            if (!format.isImageFormat() || format.toImageFormat().name() != kChartName)
                continue;
            QTextCursor cursor(&text);
            cursor.setPosition(fragment.fragment().position());
            cursor.setPosition(fragment.fragment().position() + 1, QTextCursor::KeepAnchor);
            QTextCharFormat chart;
            chart.setObjectType(ReportChart::kObjectType);
            cursor.insertText(QString(QChar::ObjectReplacementCharacter), chart);
            return;
        }
}

// "Unit U-4711, station Line 3/7": which unit a loose page belongs to; "" when neither is
// given.
QString UnitAndStation(const ReportDocument &document) {
    QStringList parts;
    if (!document.unitId.empty())
        parts << QStringLiteral("Unit ") + QString::fromStdString(document.unitId);
    if (!document.station.empty())
        parts << QStringLiteral("station ") + QString::fromStdString(document.station);
    QString text = parts.join(QStringLiteral(", "));
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

void PaintFoot(QPainter &painter, const QRectF &area, const ReportDocument &document, int page,
               int pages) {
    painter.setFont(ReportFont(QStringLiteral("DejaVu Sans"), kFootFont));
    painter.setPen(QPen(Qt::darkGray, Px(0.5)));
    painter.drawLine(area.topLeft(), area.topRight());
    painter.setPen(Qt::black);
    const QRectF text = area.adjusted(0, Px(4), 0, 0);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(document.program));
    painter.drawText(text, Qt::AlignRight | Qt::AlignTop,
                     UnitAndStation(document) +
                         QStringLiteral("     Page %1 of %2").arg(page).arg(pages));
}

// The whole PDF in memory; empty when Qt could not paint it.
QByteArray MakePdf(const ReportDocument &document) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    writer.setResolution(kDotsPerInch);
    writer.setTitle(QString::fromStdString(document.title));
    writer.setCreator(QString::fromStdString(document.program));
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, kPageMargins,
                                     QPageLayout::Millimeter));
    const QRectF body       = writer.pageLayout().paintRectPixels(writer.resolution());
    const double textHeight = body.height() - Px(kFootHeight);

    QTextDocument text;
    text.documentLayout()->setPaintDevice(&writer);
    text.setPageSize(QSizeF(body.width(), textHeight));
    text.setDocumentMargin(0);
    text.setDefaultFont(ReportFont(QStringLiteral("DejaVu Sans"), kBodyFont));
    text.setDefaultStyleSheet(kStyleSheet);
    text.setHtml(QStringLiteral("<html><body>") + HeadingHtml(document) +
                 ParameterTableHtml(document.parameters) + FingerprintHtml(document.fingerprint) +
                 AuditHtml(document) + WordsHtml(document.parameters.rows) +
                 CaptureHtml(document.capture) + NoteAndSignaturesHtml(document.note) +
                 QStringLiteral("</body></html>"));
    if (document.capture.present)
        PlaceChart(text, document.capture);

    QPainter painter;
    if (!painter.begin(&writer))
        return {};
    const int pages = text.pageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        const QRectF clip(0, page * textHeight, body.width(), textHeight);
        painter.save();
        painter.translate(0, -clip.top());
        painter.setClipRect(clip);
        // The layout draws every line that touches its clip, and the painter's clip only
        // hides it: a line starting right at the page's end would be in the file twice.
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = clip.adjusted(0, 1, 0, -1);
        text.documentLayout()->draw(&painter, context);
        painter.restore();
        PaintFoot(painter, QRectF(0, textHeight, body.width(), Px(kFootHeight)), document, page + 1,
                  pages);
    }
    if (!painter.end())
        return {};
    return buffer.data();
}

} // namespace

ReportWriteResult WriteReport(const ReportDocument &document, const char *path) {
    const QByteArray made = MakePdf(document);
    if (made.isEmpty())
        return {-EIO, "the PDF could not be made"};
    std::string pdf = made.toStdString();
    if (!document.author.empty() && !AddPdfAuthor(pdf, document.author))
        return {-EIO, "the PDF writer's file has no room for the author"};
    const int written = ReplaceTextFile(path, pdf);
    if (written != 0)
        return {written, std::string("cannot write ") + path + ": " + std::strerror(-written)};
    return {};
}

#include "app/monitor_window.h"

#include "app/report_file.h"
#include "base/output_file.h"
#include "base/visible_text.h"
#include "base/window_support.h"
#include "geo/home_location.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>
#include <utility>

using quokka::VisibleText;
using quokka::geo::ProfileText;

namespace quokka::app::monitor {

namespace {

// The monitor's interval the profile keeps, when it is one the window offers.
std::optional<int> KeptIntervalMs()
{
    bool ok = false;
    const double seconds = ProfileText::Read(ProfileText::kMonitorInterval).toDouble(&ok);
    const int ms = ok && seconds > 0 && seconds < 3600 ? int(std::lround(seconds * 1000)) : -1;
    if (ms < kMinIntervalMs || ms > kMaxIntervalMs)
        return std::nullopt;
    return ms;
}

enum Column { kHop, kAddress, kHost, kAs, kPlace, kLoss, kSent, kLast, kAvg, kBest, kWorst, kStdev, kJitter, kColumns };

const char *const kHeaders[kColumns] = {"Hop",  "Address", "Host", "AS",    "Place", "Loss %", "Sent",
                                        "Last", "Avg",     "Best", "Worst", "StDev", "Jitter"};

struct Span {
    const char *text;
    qint64 ms;
};
constexpr Span kSpans[] = {{"1 minute", 60'000}, {"10 minutes", 600'000}, {"1 hour", 3'600'000}};

// The smallest of 1, 2 or 5 times a power of ten at or above VALUE.
double NiceCeiling(double value)
{
    if (value <= 0)
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0})
        if (step * power >= value)
            return step * power;
    return 10 * power;
}

// Where a timeline's line breaks: a pause, or rounds that stopped for a while, leave two
// samples much further apart than the rounds usually are (three times the median step, and a
// second more for a probe's time-out); no line is drawn across such a gap.
qint64 BreakingGapMs(const QList<Sample> &samples)
{
    if (samples.size() < 2)
        return std::numeric_limits<qint64>::max();
    std::vector<qint64> steps;
    steps.reserve(std::size_t(samples.size() - 1));
    for (qsizetype i = 1; i < samples.size(); ++i)
        steps.push_back(samples[i].atMs - samples[i - 1].atMs);
    const auto middle = steps.begin() + std::ptrdiff_t(steps.size() / 2);
    std::nth_element(steps.begin(), middle, steps.end());
    return 3 * *middle + 1000;
}

// The cells of one row: numbers from the statistics, names from the details.
QStringList Cells(const RowStatistics &row, const RowDetail *detail)
{
    QStringList cells(kColumns);
    cells[kHop] = QString::number(row.ttl);
    cells[kAddress] = row.address.isEmpty() ? QStringLiteral("(no answer)") : row.address;
    if (detail) {
        cells[kHost] = VisibleText(detail->hostName);
        if (detail->asn)
            cells[kAs] = QStringLiteral("AS%1 %2").arg(*detail->asn).arg(VisibleText(detail->asName)).trimmed();
        cells[kPlace] = VisibleText(detail->place);
    }
    const QStringList numbers = NumberFields(row); // sent, received, loss, last, avg, best, worst, stdev, jitter
    cells[kLoss] = numbers[2];
    cells[kSent] = numbers[0];
    cells[kLast] = numbers[3];
    cells[kAvg] = numbers[4];
    cells[kBest] = numbers[5];
    cells[kWorst] = numbers[6];
    cells[kStdev] = numbers[7];
    cells[kJitter] = numbers[8];
    return cells;
}

// What a screen reader says of a row: each cell named by its column.
QString SpokenRow(const QStringList &cells)
{
    QStringList parts;
    for (int column = 0; column < kColumns; ++column)
        if (!cells[column].isEmpty())
            parts << QStringLiteral("%1 %2").arg(QLatin1String(kHeaders[column]), cells[column]);
    return parts.join(QStringLiteral(", "));
}

} // namespace

Timeline::Timeline(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("monitorTimeline"));
    setAccessibleName(QStringLiteral("Round trip timeline"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void Timeline::Show(const Statistics *statistics, int ttl, const QString &address)
{
    m_statistics = statistics;
    m_ttl = ttl;
    m_address = address;
    update();
}

void Timeline::SetSpanMs(qint64 spanMs)
{
    m_spanMs = spanMs;
    update();
}

void Timeline::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const QFontMetrics metrics(font());
    const int left = metrics.horizontalAdvance(QStringLiteral("00000 ms")) + 6;
    const int bottom = metrics.height() + 4;
    const int lossBand = 8; // the red marks of lost probes, above the plot
    const QRect plot(left, lossBand + 4, std::max(1, width() - left - 8), std::max(1, height() - bottom - lossBand - 8));

    const qint64 now = MonotonicMs();
    const qint64 from = now - m_spanMs;
    const History history = m_statistics && m_ttl > 0 ? m_statistics->Query(m_ttl, m_address, from, now) : History{};

    double top = 0;
    for (const Sample &sample : history.samples)
        if (sample.rttMs)
            top = std::max(top, *sample.rttMs);
    for (const MinuteSummary &minute : history.summaries)
        if (minute.count > minute.lost)
            top = std::max(top, minute.maxMs);
    top = NiceCeiling(top * 1.1);

    const auto x = [&](qint64 atMs) { return plot.left() + double(atMs - from) * plot.width() / double(m_spanMs); };
    const auto y = [&](double ms) { return plot.bottom() - ms * plot.height() / top; };

    // Axes: four grid lines with their times in ms, and the span's ends.
    painter.setPen(QColor(0xD8, 0xD8, 0xD8));
    for (int i = 0; i <= 4; ++i)
        painter.drawLine(QPointF(plot.left(), y(top * i / 4)), QPointF(plot.right(), y(top * i / 4)));
    painter.setPen(palette().color(QPalette::WindowText));
    for (int i = 0; i <= 4; i += 2) {
        const QRectF label(0, y(top * i / 4) - metrics.height() / 2.0, left - 4, metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 ms").arg(top * i / 4, 0, 'g', 4));
    }
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    const QRect axis(plot.left(), plot.bottom() + 2, plot.width(), metrics.height());
    for (const Span &span : kSpans)
        if (span.ms == m_spanMs)
            painter.drawText(axis, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("-%1").arg(QLatin1String(span.text)));
    painter.drawText(axis, Qt::AlignRight | Qt::AlignTop, QStringLiteral("now"));

    painter.setClipRect(plot.adjusted(0, -lossBand - 4, 0, 0));
    // The minutes older than the raw samples: a bar from best to worst, red above for losses.
    for (const MinuteSummary &minute : history.summaries) {
        const double x1 = std::max<double>(plot.left(), x(minute.startMs));
        const double x2 = std::min<double>(plot.right(), x(minute.startMs + kSummaryMs));
        if (minute.count > minute.lost)
            painter.fillRect(QRectF(x1, y(minute.maxMs), std::max(1.0, x2 - x1), std::max(1.0, y(minute.minMs) - y(minute.maxMs))),
                             QColor(0x9C, 0xB4, 0xDC));
        if (minute.lost)
            painter.fillRect(QRectF(x1, plot.top() - lossBand - 2, std::max(1.0, x2 - x1), lossBand), QColor(kLossColour));
    }
    // The raw samples, a pixel column at a time: a column's answers as a stroke from the first
    // of its lowest and highest to the other, joined to the next column's; a loss or a gap
    // breaks the line, and a loss puts a red mark at the top. An hour of samples is so drawn with at most two
    // points a column; smoothed only where the samples stand apart, as smoothing a dense line
    // costs several times its drawing and shows nothing.
    painter.setRenderHint(QPainter::Antialiasing, history.samples.size() < plot.width());
    painter.setPen(QPen(QColor(kLineColour), 1.5));
    std::vector<QPointF> run;
    const auto flush = [&] {
        if (run.size() > 1)
            painter.drawPolyline(run.data(), int(run.size()));
        run.clear();
    };
    int column = std::numeric_limits<int>::min();
    int markedColumn = column;
    double low = 0, high = 0;
    bool pending = false;
    const auto emitColumn = [&] {
        if (!pending)
            return;
        run.emplace_back(column + 0.5, y(low));
        if (high != low)
            run.emplace_back(column + 0.5, y(high));
        pending = false;
    };
    const qint64 gapMs = BreakingGapMs(history.samples);
    qint64 previousMs = std::numeric_limits<qint64>::max();
    for (const Sample &sample : history.samples) {
        const int at = int(std::floor(x(sample.atMs)));
        if (sample.atMs - std::exchange(previousMs, sample.atMs) > gapMs) {
            emitColumn();
            flush();
        }
        if (at != column) {
            emitColumn();
            column = at;
        }
        if (!sample.rttMs) {
            emitColumn();
            flush();
            if (std::exchange(markedColumn, at) != at)
                painter.fillRect(QRectF(at - 1, plot.top() - lossBand - 2, 2, lossBand), QColor(kLossColour));
            continue;
        }
        low = pending ? std::min(low, *sample.rttMs) : *sample.rttMs;
        high = pending ? std::max(high, *sample.rttMs) : *sample.rttMs;
        pending = true;
    }
    emitColumn();
    flush();
    if (history.samples.size() * 6 < plot.width()) { // points, where they stand apart
        painter.setBrush(QColor(kLineColour));
        for (const Sample &sample : history.samples)
            if (sample.rttMs)
                painter.drawEllipse(QPointF(x(sample.atMs), y(*sample.rttMs)), 1.5, 1.5);
    }
}

QString MonitorWindow::TitleFor(const QString &address)
{
    return QStringLiteral("Route Monitor - %1").arg(address);
}

MonitorWindow::MonitorWindow(std::unique_ptr<Session> session, QWidget *parent)
    : QWidget(parent, kWindowFlags | Qt::WindowMinMaxButtonsHint), m_session(std::move(session))
{
    DressWindow(this, QStringLiteral("routeMonitor"));
    setWindowTitle(TitleFor(m_session->Destination()));
    setAccessibleName(windowTitle());
    setAttribute(Qt::WA_DeleteOnClose);

    m_table = new QTableWidget(0, kColumns, this);
    m_table->setObjectName(QStringLiteral("monitorTable"));
    m_table->setAccessibleName(QStringLiteral("Route statistics"));
    QStringList headers;
    for (const char *header : kHeaders)
        headers << QString::fromLatin1(header);
    m_table->setHorizontalHeaderLabels(headers);
    m_table->verticalHeader()->hide();
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setWordWrap(false);
    m_table->horizontalHeader()->setStretchLastSection(false);
    m_table->horizontalHeader()->setSectionResizeMode(kPlace, QHeaderView::Stretch);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    const int digits = m_table->fontMetrics().horizontalAdvance(QStringLiteral("00000.0")) + 12;
    for (int column = kLoss; column < kColumns; ++column)
        m_table->setColumnWidth(column, digits);
    m_table->setColumnWidth(kHop, m_table->fontMetrics().horizontalAdvance(QStringLiteral("Hop")) + 18);
    m_table->setColumnWidth(kAddress, m_table->fontMetrics().horizontalAdvance(QStringLiteral("255.255.255.255")) + 12);
    m_table->setColumnWidth(kHost, m_table->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 22);
    m_table->setColumnWidth(kAs, m_table->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 16);
    AddCopyCommands(m_table, [this] { return Lines(); }, [this](QMenu *menu) {
        menu->addSeparator();
        menu->addAction(QStringLiteral("&Save Report..."), this, &MonitorWindow::SaveReport);
    });

    m_timelineTitle = new QLabel(this);
    m_timelineTitle->setTextFormat(Qt::PlainText);
    m_span = new QComboBox(this);
    m_span->setObjectName(QStringLiteral("spanBox"));
    m_span->setAccessibleName(QStringLiteral("Timeline span"));
    for (const Span &span : kSpans)
        m_span->addItem(QString::fromLatin1(span.text), span.ms);
    auto *spanLabel = new QLabel(QStringLiteral("&Timeline span:"), this);
    spanLabel->setBuddy(m_span);
    m_timeline = new Timeline(this);

    m_events = new QListWidget(this);
    m_events->setObjectName(QStringLiteral("monitorEvents"));
    m_events->setAccessibleName(QStringLiteral("Route changes"));
    m_events->setFixedHeight(m_events->fontMetrics().height() * 4 + 8);
    AddCopyCommands(m_events, [this] {
        QStringList lines;
        for (int i = 0; i < m_events->count(); ++i)
            lines << m_events->item(i)->text();
        return lines;
    });
    auto *eventsLabel = new QLabel(QStringLiteral("Route &changes:"), this);
    eventsLabel->setBuddy(m_events);

    m_pause = new QPushButton(QStringLiteral("&Pause"), this);
    m_pause->setObjectName(QStringLiteral("pauseButton"));
    auto *reset = new QPushButton(QStringLiteral("R&eset"), this);
    reset->setObjectName(QStringLiteral("resetButton"));
    m_interval = new QDoubleSpinBox(this);
    m_interval->setObjectName(QStringLiteral("intervalBox"));
    m_interval->setAccessibleName(QStringLiteral("Interval in seconds"));
    m_interval->setRange(kMinIntervalMs / 1000.0, kMaxIntervalMs / 1000.0);
    m_interval->setDecimals(2);
    m_interval->setSingleStep(0.1);
    m_interval->setSuffix(QStringLiteral(" s"));
    // The interval a person last chose, kept in the profile.
    if (const std::optional<int> kept = KeptIntervalMs())
        m_session->SetInterval(*kept);
    m_interval->setValue(m_session->IntervalMs() / 1000.0);
    auto *intervalLabel = new QLabel(QStringLiteral("&Interval:"), this);
    intervalLabel->setBuddy(m_interval);
    auto *save = new QPushButton(QStringLiteral("&Save Report..."), this);
    save->setObjectName(QStringLiteral("saveReportButton"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("monitorStatus"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setWordWrap(true);
    for (QPushButton *button : {m_pause, reset, save})
        button->setAutoDefault(false);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 3);
    auto *timelineBar = new QHBoxLayout;
    timelineBar->addWidget(m_timelineTitle, 1);
    timelineBar->addWidget(spanLabel);
    timelineBar->addWidget(m_span);
    layout->addLayout(timelineBar);
    layout->addWidget(m_timeline, 2);
    layout->addWidget(eventsLabel);
    layout->addWidget(m_events);
    auto *controls = new QHBoxLayout;
    controls->addWidget(m_pause);
    controls->addWidget(reset);
    controls->addWidget(intervalLabel);
    controls->addWidget(m_interval);
    controls->addWidget(m_status, 1);
    controls->addWidget(save);
    layout->addLayout(controls);

    connect(m_pause, &QPushButton::clicked, this, &MonitorWindow::OnPause);
    connect(reset, &QPushButton::clicked, this, &MonitorWindow::OnReset);
    connect(save, &QPushButton::clicked, this, &MonitorWindow::SaveReport);
    connect(m_interval, &QDoubleSpinBox::valueChanged, this, [this](double seconds) {
        m_session->SetInterval(int(std::lround(seconds * 1000)));
        ProfileText::Write(ProfileText::kMonitorInterval, QString::number(seconds));
    });
    connect(m_span, &QComboBox::currentIndexChanged, this,
            [this](int index) { m_timeline->SetSpanMs(m_span->itemData(index).toLongLong()); });
    connect(m_table, &QTableWidget::itemSelectionChanged, this, &MonitorWindow::UpdateTimeline);

    Session *monitor = m_session.get();
    connect(monitor, &Session::RoundResolved, this, &MonitorWindow::ScheduleUpdate);
    connect(monitor, &Session::DetailFound, this, &MonitorWindow::ScheduleUpdate);
    connect(monitor, &Session::Cleared, this, [this] {
        m_events->clear();
        UpdateRows();
    });
    connect(monitor, &Session::RouteChanged, this, [this](const RouteEvent &event) {
        m_events->addItem(VisibleText(event.text));
        while (m_events->count() > kMaxEvents)
            delete m_events->takeItem(0);
        m_events->scrollToBottom();
    });
    connect(monitor, &Session::Failed, this, &MonitorWindow::SetStatus);
    connect(monitor, &Session::Notice, this, &MonitorWindow::SetStatus);
    SetStatus(QStringLiteral("Probing %1").arg(m_session->Destination()));

    const QSize screen = FullScreenSize();
    resize(std::min(screen.width(), 1000), std::min(screen.height(), 640));
    PlaceByFrame(this, [](QSize frame, QSize area) {
        return QPoint((area.width() - frame.width()) / 2, (area.height() - frame.height()) / 2);
    });
    UpdateTimeline();
    m_session->Start();
}

MonitorWindow::~MonitorWindow()
{
    emit Ending();
}

void MonitorWindow::SetIntervalMs(int ms)
{
    // For this monitor alone (--interval): the profile keeps what a person chose.
    const QSignalBlocker quiet(m_interval);
    m_interval->setValue(std::clamp(ms, kMinIntervalMs, kMaxIntervalMs) / 1000.0);
    m_session->SetInterval(ms);
}

QStringList MonitorWindow::Lines() const
{
    QStringList lines;
    for (int row = 0; row < m_table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < kColumns; ++column)
            cells << (m_table->item(row, column) ? m_table->item(row, column)->text() : QString());
        lines << cells.join(QStringLiteral("  "));
    }
    return lines;
}

void MonitorWindow::ScheduleUpdate()
{
    if (std::exchange(m_updateScheduled, true))
        return;
    const qint64 waitMs = std::max<qint64>(0, m_lastUpdateMs + kUpdateGapMs - MonotonicMs());
    QTimer::singleShot(int(waitMs), this, [this] {
        m_updateScheduled = false;
        m_lastUpdateMs = MonotonicMs();
        UpdateRows();
    });
}

void MonitorWindow::UpdateRows()
{
    const QList<RowStatistics> rows = m_session->Stats().Rows();
    const int current = m_table->currentRow();
    const QPair<int, QString> selected = current >= 0 && current < m_keys.size() ? m_keys[current] : QPair<int, QString>{};
    m_keys.clear();
    m_table->setRowCount(int(rows.size()));
    // Each cell is rewritten only when its text changes: the table repaints what changed.
    for (int i = 0; i < rows.size(); ++i) {
        const RowStatistics &row = rows[i];
        m_keys << qMakePair(row.ttl, row.address);
        const RowDetail *detail = nullptr;
        for (const RowDetail &known : m_session->Details())
            if (known.ttl == row.ttl && known.address == row.address)
                detail = &known;
        const QStringList cells = Cells(row, detail);
        const QString spoken = SpokenRow(cells);
        for (int column = 0; column < kColumns; ++column) {
            QTableWidgetItem *item = m_table->item(i, column);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(column >= kLoss || column == kHop ? Qt::AlignRight | Qt::AlignVCenter
                                                                         : Qt::AlignLeft | Qt::AlignVCenter);
                m_table->setItem(i, column, item);
            }
            if (item->text() != cells[column])
                item->setText(cells[column]);
            if (item->data(Qt::AccessibleDescriptionRole).toString() != spoken)
                item->setData(Qt::AccessibleDescriptionRole, spoken);
        }
    }
    // The selection stays on its row when a new row comes in above it.
    if (current >= 0 && selected.first > 0) {
        const auto at = m_keys.indexOf(selected);
        if (at >= 0 && at != current)
            m_table->selectRow(int(at));
    }
    UpdateTimeline();
}

void MonitorWindow::UpdateTimeline()
{
    const QList<QTableWidgetItem *> selected = m_table->selectedItems();
    const int row = selected.isEmpty() ? -1 : selected.first()->row();
    QPair<int, QString> key;
    if (row >= 0 && row < m_keys.size()) {
        key = m_keys[row];
    } else if (const std::optional<int> destination = m_session->Stats().DestinationTtl()) {
        key = {*destination, m_session->Destination()};
    } else if (!m_keys.isEmpty()) {
        key = m_keys.last();
    }
    m_timeline->Show(&m_session->Stats(), key.first, key.second);
    m_timelineTitle->setText(key.first > 0 ? QStringLiteral("Round trip of hop %1 (%2)")
                                                 .arg(key.first)
                                                 .arg(key.second.isEmpty() ? QStringLiteral("no answer") : key.second)
                                           : QStringLiteral("Round trip"));
}

void MonitorWindow::OnPause()
{
    if (m_session->IsPaused()) {
        m_session->Resume();
        m_pause->setText(QStringLiteral("&Pause"));
        SetStatus(QStringLiteral("Probing %1").arg(m_session->Destination()));
    } else {
        m_session->Pause();
        m_pause->setText(QStringLiteral("&Resume"));
        SetStatus(QStringLiteral("Paused"));
    }
}

void MonitorWindow::OnReset()
{
    m_session->Reset();
}

void MonitorWindow::SetStatus(const QString &text)
{
    if (!m_session->Failure().isEmpty() && text != m_session->Failure())
        return; // the reason probing stopped stays in view
    m_status->setText(VisibleText(text));
}

void MonitorWindow::SaveReport()
{
    AskWhereToSave(this, QStringLiteral("Save Report"), {runreport::kJsonFilter, runreport::kCsvFilter},
                   [this](const QString &name, const QString &filter) {
                       const QString path = runreport::PathForFilter(name, filter);
                       const bool csv = path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive);
                       const Session &monitor = *m_session;
                       const QByteArray bytes = csv ? ToCsv(monitor.Stats(), monitor.Details())
                                                    : ToJson(monitor.Stats(), monitor.Details());
                       const QString error = quokka::WriteOutputFile(path, bytes);
                       return error.isEmpty()
                           ? error
                           : QStringLiteral("The report could not be saved to %1: %2").arg(path, error);
                   });
}

void MonitorWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape)
        return void(close());
    QWidget::keyPressEvent(event);
}

} // namespace quokka::app::monitor

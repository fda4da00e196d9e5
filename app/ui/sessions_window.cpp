#include "app/ui/sessions_window.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace corvane::app::ui {

namespace {

const QChar kNone(0x2014);

QString loginName(const std::string& login) {
    if (login == "password")
        return QStringLiteral("Password");
    if (login == "nla")
        return QStringLiteral("NLA");
    if (login == "none")
        return QStringLiteral("None");
    return QString::fromStdString(login);
}

QString modeName(const ControlSession& s) {
    if (!s.ready)
        return QStringLiteral("Waiting");
    return s.viewOnly ? QStringLiteral("View only") : QStringLiteral("Control");
}

// The figures in the C locale's digits, whatever the desktop's language.
QStringList rowTexts(const ControlSession& s) {
    QStringList texts(SessionsWindow::columns, QString(kNone));
    texts[SessionsWindow::account] = QString::fromStdString(s.who.account);
    texts[SessionsWindow::address] = QString::fromStdString(s.who.address);
    texts[SessionsWindow::login] = loginName(s.who.login);
    if (s.connectedAt > 0)
        texts[SessionsWindow::since] =
            QDateTime::fromSecsSinceEpoch(s.connectedAt).toString(QStringLiteral("HH:mm:ss"));
    texts[SessionsWindow::mode] = modeName(s);
    if (!s.stats)
        return texts;
    const SessionStats& f = *s.stats;
    if (!f.codec.empty())
        texts[SessionsWindow::codec] = QString::fromStdString(f.codec);
    if (f.width && f.height)
        texts[SessionsWindow::desktop] =
            QString::number(f.width) + QChar(0x00d7) + QString::number(f.height);
    texts[SessionsWindow::fps] = QString::number(f.fps, 'f', 1);
    texts[SessionsWindow::kbps] = QString::number(f.kbps, 'f', 0);
    if (f.roundTripMs)
        texts[SessionsWindow::roundTrip] = QString::number(*f.roundTripMs) + QStringLiteral(" ms");
    return texts;
}

} // namespace

SessionsWindow::SessionsWindow(SessionsActions actions) : actions_(std::move(actions)) {
    setWindowTitle(QStringLiteral("Sessions"));
    auto* layout = new QVBoxLayout(this);
    table = new QTableWidget(0, columns, this);
    table->setHorizontalHeaderLabels({"Account", "Address", "Login", "Connected since", "Mode",
                                      "Codec", "Desktop", "Frames/s", "kbit/s", "Round trip"});
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    layout->addWidget(table);
    auto* chart = new QChart;
    chart->legend()->setAlignment(Qt::AlignBottom);
    fpsSeries = new QLineSeries(chart);
    fpsSeries->setName(QStringLiteral("Frames/s"));
    kbpsSeries = new QLineSeries(chart);
    kbpsSeries->setName(QStringLiteral("kbit/s"));
    chart->addSeries(fpsSeries);
    chart->addSeries(kbpsSeries);
    auto* time = new QValueAxis(chart);
    time->setRange(-double(kStatsHistorySeconds), 0);
    time->setLabelFormat(QStringLiteral("%d s"));
    fpsAxis_ = new QValueAxis(chart);
    fpsAxis_->setTitleText(QStringLiteral("Frames/s"));
    fpsAxis_->setLabelFormat(QStringLiteral("%.0f"));
    kbpsAxis_ = new QValueAxis(chart);
    kbpsAxis_->setTitleText(QStringLiteral("kbit/s"));
    kbpsAxis_->setLabelFormat(QStringLiteral("%.0f"));
    chart->addAxis(time, Qt::AlignBottom);
    chart->addAxis(fpsAxis_, Qt::AlignLeft);
    chart->addAxis(kbpsAxis_, Qt::AlignRight);
    for (QLineSeries* series : {fpsSeries, kbpsSeries})
        series->attachAxis(time);
    fpsSeries->attachAxis(fpsAxis_);
    kbpsSeries->attachAxis(kbpsAxis_);
    plot = new QChartView(chart, this);
    plot->setRenderHint(QPainter::Antialiasing);
    plot->setMinimumHeight(220);
    layout->addWidget(plot, 1);
    note = new QLabel(this);
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    modeButton = new QPushButton(QStringLiteral("View only"), this);
    disconnectButton = new QPushButton(QStringLiteral("Disconnect"), this);
    buttons->addWidget(modeButton);
    buttons->addWidget(disconnectButton);
    layout->addLayout(buttons);
    resize(860, 520);
    connect(table, &QTableWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
    connect(modeButton, &QPushButton::clicked, this, [this] { toggleMode(); });
    connect(disconnectButton, &QPushButton::clicked, this, [this] { disconnectSelected(); });
    update({});
}

std::optional<uint64_t> SessionsWindow::selected() const {
    const int row = table->currentRow();
    if (row < 0 || row >= static_cast<int>(sessions_.size()) ||
        table->selectionModel()->selectedRows().isEmpty())
        return std::nullopt;
    return sessions_[static_cast<size_t>(row)].id;
}

void SessionsWindow::update(const std::vector<ControlSession>& sessions) {
    const std::optional<uint64_t> keep = selected();
    sessions_ = sessions;
    const QSignalBlocker quiet(table);
    table->setRowCount(static_cast<int>(sessions_.size()));
    // Removing rows moves the current row to a neighbour: a client that
    // left must not hand its selection to another.
    table->clearSelection();
    table->selectionModel()->clearCurrentIndex();
    for (int row = 0; row < table->rowCount(); ++row) {
        const QStringList texts = rowTexts(sessions_[static_cast<size_t>(row)]);
        for (int column = 0; column < columns; ++column) {
            QTableWidgetItem* item = table->item(row, column);
            if (!item)
                table->setItem(row, column, item = new QTableWidgetItem);
            item->setText(texts[column]);
        }
        if (keep && sessions_[static_cast<size_t>(row)].id == *keep)
            table->selectRow(row);
    }
    if (sessions_.empty())
        note->setText(QStringLiteral("No clients are connected."));
    else if (note->text() == QStringLiteral("No clients are connected."))
        note->clear();
    selectionChanged();
}

void SessionsWindow::selectionChanged() {
    const std::optional<uint64_t> id = selected();
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const ControlSession& s) { return id && s.id == *id; });
    const bool any = it != sessions_.end();
    disconnectButton->setEnabled(any);
    // A client at the prompt has no mode to switch yet.
    modeButton->setEnabled(any && it->ready);
    modeButton->setText(any && it->viewOnly ? QStringLiteral("Allow control")
                                            : QStringLiteral("View only"));
    replot();
}

void SessionsWindow::replot() {
    const std::optional<uint64_t> id = selected();
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const ControlSession& s) { return id && s.id == *id; });
    if (it == sessions_.end() && !sessions_.empty())
        it = sessions_.begin();
    QList<QPointF> fps, kbps;
    // Scales that do not jump at every wiggle: at least 30 frames/s, 100 kbit/s.
    double fpsTop = 30, kbpsTop = 100;
    QString title;
    if (it != sessions_.end()) {
        title = QString::fromStdString(it->who.account + " \u00b7 " + it->who.address);
        const int64_t latest = it->history.empty() ? 0 : it->history.back().at;
        for (const StatsSample& sample : it->history) {
            const double x = double(sample.at - latest);
            fps.append({x, sample.fps});
            kbps.append({x, sample.kbps});
            fpsTop = std::max(fpsTop, sample.fps * 1.1);
            kbpsTop = std::max(kbpsTop, sample.kbps * 1.1);
        }
    }
    fpsSeries->replace(fps);
    kbpsSeries->replace(kbps);
    fpsAxis_->setRange(0, fpsTop);
    kbpsAxis_->setRange(0, kbpsTop);
    fpsAxis_->applyNiceNumbers();
    kbpsAxis_->applyNiceNumbers();
    plot->chart()->setTitle(title);
}

void SessionsWindow::showError(const std::string& message) {
    note->setText(QString::fromStdString(message));
}

void SessionsWindow::toggleMode() {
    const std::optional<uint64_t> id = selected();
    auto it = std::find_if(sessions_.begin(), sessions_.end(),
                           [&](const ControlSession& s) { return id && s.id == *id; });
    if (it == sessions_.end() || !actions_.setMode)
        return;
    if (!actions_.setMode(it->id, !it->viewOnly))
        showError("Corvane Server is not reachable; nothing was changed.");
}

void SessionsWindow::disconnectSelected() {
    const std::optional<uint64_t> id = selected();
    if (!id || !actions_.disconnect)
        return;
    if (!actions_.disconnect(*id))
        showError("Corvane Server is not reachable; nothing was changed.");
}

} // namespace corvane::app::ui

// The Sessions window: one row per client with its figures, rows that come
// and go with the model, and buttons that ask for the selected client only.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QDateTime>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QTableWidget>

#include "app/ui/sessions_window.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

struct Sent {
    std::string what;
    uint64_t id;
    bool operator==(const Sent&) const = default;
};

QStringList row(QTableWidget* table, int r) {
    QStringList texts;
    for (int c = 0; c < table->columnCount(); ++c)
        texts << table->item(r, c)->text();
    return texts;
}

} // namespace

TEST(SessionsWindow, RowsFollowTheModelAndButtonsAskForTheSelectedClient) {
    std::vector<Sent> sent;
    bool reachable = true;
    SessionsWindow w({[&](uint64_t id, bool view) {
                          sent.push_back({view ? "view" : "control", id});
                          return reachable;
                      },
                      [&](uint64_t id) {
                          sent.push_back({"disconnect", id});
                          return reachable;
                      }});
    ControlSessions m;
    auto apply = [&](const char* line) {
        ASSERT_TRUE(m.apply(line, 1000));
        w.update(m.sessions());
    };
    EXPECT_EQ(w.table->rowCount(), 0);
    EXPECT_FALSE(w.disconnectButton->isEnabled());

    apply(
        R"({"v":1,"type":"client-connecting","id":4,"address":"192.0.2.7","account":"alice","login":"password"})");
    apply(
        R"({"v":1,"type":"client-connecting","id":7,"address":"192.0.2.8","account":"bob","login":"nla"})");
    apply(R"({"v":1,"type":"client-ready","id":7,"mode":"control"})");
    apply(
        R"({"v":1,"type":"stats","id":7,"codec":"h264","width":1920,"height":1080,"fps":29.46,"kbps":812.4,"rtt_ms":23,"waiting":0})");
    ASSERT_EQ(w.table->rowCount(), 2);
    const QString none(QChar(0x2014));
    EXPECT_EQ(row(w.table, 0).mid(0, 3), QStringList({"alice", "192.0.2.7", "Password"}));
    EXPECT_EQ(row(w.table, 0).mid(4), QStringList({"Waiting", none, none, none, none, none}));
    EXPECT_EQ(row(w.table, 1).mid(4),
              QStringList({"Control", "h264", "1920\u00d71080", "29.5", "812", "23 ms"}));
    EXPECT_EQ(row(w.table, 1)[SessionsWindow::since],
              QDateTime::fromSecsSinceEpoch(1000).toString("HH:mm:ss"));

    // A client still at the prompt can be sent away but has no mode yet.
    w.table->selectRow(0);
    EXPECT_TRUE(w.disconnectButton->isEnabled());
    EXPECT_FALSE(w.modeButton->isEnabled());

    w.table->selectRow(1);
    ASSERT_TRUE(w.modeButton->isEnabled());
    EXPECT_EQ(w.modeButton->text(), "View only");
    w.modeButton->click();
    // The server's event, not the click, changes the row; the selection stays.
    EXPECT_EQ(row(w.table, 1)[SessionsWindow::mode], "Control");
    apply(R"({"v":1,"type":"mode","id":7,"mode":"view"})");
    EXPECT_EQ(w.selected(), std::optional<uint64_t>(7));
    EXPECT_EQ(w.modeButton->text(), "Allow control");
    w.modeButton->click();
    w.disconnectButton->click();
    EXPECT_EQ(sent, (std::vector<Sent>{{"view", 7}, {"control", 7}, {"disconnect", 7}}));

    // Without a channel the window says nothing happened.
    reachable = false;
    w.disconnectButton->click();
    EXPECT_FALSE(w.note->text().isEmpty());

    apply(R"({"v":1,"type":"client-left","id":7,"reason":"x"})");
    ASSERT_EQ(w.table->rowCount(), 1);
    EXPECT_EQ(w.table->item(0, 0)->text(), "alice");
    EXPECT_EQ(w.selected(), std::nullopt) << "the selected client left";
    EXPECT_FALSE(w.disconnectButton->isEnabled());
}

// The plot: the selected client's figures (the first client's without a
// selection), two minutes of them, the newest at 0.
TEST(SessionsWindow, PlotShowsTheLastTwoMinutesOfOneClient) {
    SessionsWindow w({});
    ControlSessions m;
    ASSERT_TRUE(m.apply(
        R"({"v":1,"type":"client-connecting","id":1,"address":"a","account":"x","login":"nla"})"));
    ASSERT_TRUE(m.apply(
        R"({"v":1,"type":"client-connecting","id":2,"address":"b","account":"y","login":"nla"})"));
    auto stats = [&](int id, double fps, int64_t at) {
        const std::string line = "{\"v\":1,\"type\":\"stats\",\"id\":" + std::to_string(id) +
                                 ",\"fps\":" + std::to_string(fps) +
                                 ",\"kbps\":" + std::to_string(fps * 100) + "}";
        ASSERT_TRUE(m.apply(line, at));
    };
    stats(1, 10, 1000); // dropped: more than two minutes before the newest
    stats(1, 20, 1010);
    stats(1, 30, 1130);
    stats(2, 50, 1130);
    w.update(m.sessions());
    EXPECT_EQ(w.fpsSeries->points(), QList<QPointF>({{-120, 20}, {0, 30}}));
    EXPECT_EQ(w.kbpsSeries->points(), QList<QPointF>({{-120, 2000}, {0, 3000}}));
    w.table->selectRow(1);
    EXPECT_EQ(w.fpsSeries->points(), QList<QPointF>({{0, 50}}));
}

// The windows of the server's clients. The question about a held client: its
// countdown on an injected clock, the answer each button sends, and the queue
// that shows one prompt at a time, in order, until the server closes it. The
// Sessions window: one row per client with its figures, rows that come and go
// with the model, and buttons that ask for the selected client only.
#include <gtest/gtest.h>

#include "qt_print.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineSeries>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "app/ui/connect_prompt.h"
#include "app/ui/sessions_window.h"
#include "manual_clock.h"

using namespace corvane::app;
using namespace corvane::app::ui;

namespace {

ControlPrompt prompt(uint64_t id, const char* account, int timeout = 30,
                     PromptAnswer onTimeout = PromptAnswer::refuse) {
    return {id, {account, "192.0.2.7", "password"}, timeout, onTimeout};
}

std::string promptLine(uint64_t id, const char* account, const char* login) {
    return "{\"v\":1,\"type\":\"prompt\",\"id\":" + std::to_string(id) + ",\"account\":\"" +
           account + "\",\"address\":\"192.0.2.7\",\"login\":\"" + login +
           "\",\"timeout_s\":30,\"on_timeout\":\"refuse\"}";
}

std::string closedLine(uint64_t id) {
    return "{\"v\":1,\"type\":\"prompt-closed\",\"id\":" + std::to_string(id) +
           ",\"answer\":\"refuse\",\"by\":\"timeout\"}";
}

} // namespace

// The seconds shown follow the clock; at 0 the window says what the server
// does and stays until the server says it did.
TEST(ConnectPrompt, CountdownFollowsTheClockAndEndsWithTheServersOutcome) {
    const struct {
        int timeout;
        PromptAnswer onTimeout;
        std::vector<std::pair<double, QString>> steps; // seconds on, text then
    } cases[] = {
        {30,
         PromptAnswer::refuse,
         {{0, "Refused in 30 s if you do not answer."},
          {1, "Refused in 29 s if you do not answer."},
          {0.5, "Refused in 29 s if you do not answer."},
          {27.5, "Refused in 1 s if you do not answer."},
          {1, "No answer in time: Corvane Server refuses it."},
          {60, "No answer in time: Corvane Server refuses it."}}},
        {12,
         PromptAnswer::allow,
         {{0, "Let in in 12 s if you do not answer (nobody seems to be at the desktop)."},
          {11, "Let in in 1 s if you do not answer (nobody seems to be at the desktop)."},
          {1, "No answer in time: Corvane Server lets it in."}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.timeout);
        corvane::test::ManualClock clock;
        ConnectPrompt window(prompt(1, "alice", c.timeout, c.onTimeout), clock,
                             [](uint64_t, PromptAnswer) { return true; });
        window.present();
        for (const auto& [seconds, text] : c.steps) {
            clock.advance(seconds);
            EXPECT_EQ(window.countdown->text(), text) << "after " << seconds;
        }
        EXPECT_TRUE(window.isVisible()) << "the server's prompt-closed closes it, not the clock";
        EXPECT_TRUE(clock.pending().empty()) << "no ticks once the countdown is over";
    }
}

TEST(ConnectPrompt, EachButtonSendsItsAnswerForItsClientOnly) {
    const struct {
        QPushButton* ConnectPrompt::*button;
        const char* line;
    } buttons[] = {
        {&ConnectPrompt::allowButton, R"({"answer":"allow","id":9,"type":"answer","v":1})"},
        {&ConnectPrompt::viewOnlyButton, R"({"answer":"view-only","id":9,"type":"answer","v":1})"},
        {&ConnectPrompt::refuseButton, R"({"answer":"refuse","id":9,"type":"answer","v":1})"},
    };
    for (const auto& b : buttons) {
        SCOPED_TRACE(b.line);
        corvane::test::ManualClock clock;
        std::vector<std::string> sent;
        bool reachable = false;
        ConnectPrompt window(prompt(9, "alice"), clock, [&](uint64_t id, PromptAnswer answer) {
            sent.push_back(answerRequest(id, answer));
            return reachable;
        });
        window.present();
        QTest::mouseClick(window.*b.button, Qt::LeftButton);
        EXPECT_EQ(window.note->text(), "Not sent: Corvane Server cannot be reached.");
        EXPECT_TRUE((window.*b.button)->isEnabled()) << "the person can try again";
        reachable = true;
        QTest::mouseClick(window.*b.button, Qt::LeftButton);
        EXPECT_EQ(sent, (std::vector<std::string>{b.line, b.line}));
        EXPECT_EQ(window.note->text(), "Answer sent\u2026");
        EXPECT_FALSE(window.allowButton->isEnabled() || window.viewOnlyButton->isEnabled() ||
                     window.refuseButton->isEnabled())
            << "one answer per prompt";
        EXPECT_TRUE(window.isVisible()) << "open until the server closes the prompt";
    }
}

// Neither the window's close button nor Escape nor Return answers for the
// person: a key meant for another window must not let a client in.
TEST(ConnectPrompt, OnlyAButtonAnswers) {
    corvane::test::ManualClock clock;
    int answers = 0;
    ConnectPrompt window(prompt(2, "bob"), clock, [&](uint64_t, PromptAnswer) {
        ++answers;
        return true;
    });
    window.present();
    window.close();
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Return);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(answers, 0);
}

// Two clients ask at once: the first one's window, then the second's once the
// first is closed, its countdown having run since it came.
TEST(PromptQueue, OneWindowAtATimeInTheOrderTheyCameEachClosedByItsEvent) {
    corvane::test::ManualClock clock;
    std::vector<std::string> arrived;
    PromptQueue queue(
        clock, [](uint64_t, PromptAnswer) { return true; },
        [&](const ControlPrompt& p) { arrived.push_back(p.who.account); });
    ControlSessions model;
    auto apply = [&](const std::string& line) {
        ASSERT_TRUE(model.apply(line)) << line;
        queue.update(model.prompts());
    };

    apply(promptLine(3, "alice", "password"));
    clock.advance(10);
    apply(promptLine(8, "bob", "nla"));
    EXPECT_EQ(arrived, (std::vector<std::string>{"alice", "bob"}));
    ASSERT_NE(queue.shown(), nullptr);
    ConnectPrompt* first = queue.shown();
    EXPECT_EQ(first->id(), 3u);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->account->text(), "alice");
    EXPECT_EQ(first->address->text(), "192.0.2.7");
    EXPECT_EQ(first->login->text(), "the account's password");
    EXPECT_EQ(queue.size(), 2u);

    clock.advance(5.5); // between two ticks of the second's countdown
    apply(closedLine(3));
    EXPECT_FALSE(first->isVisible());
    ConnectPrompt* second = queue.shown();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->id(), 8u);
    EXPECT_TRUE(second->isVisible());
    EXPECT_EQ(second->login->text(), "the Windows login (NLA)");
    EXPECT_EQ(second->countdown->text(), "Refused in 25 s if you do not answer.")
        << "24.5 s left: the second under way still counts";

    queue.update(model.prompts());
    EXPECT_EQ(arrived.size(), 2u) << "each prompt announced once";
    apply(closedLine(8));
    EXPECT_EQ(queue.shown(), nullptr);
    EXPECT_EQ(queue.size(), 0u);
    EXPECT_FALSE(second->isVisible());
}

// A prompt answered from the queue's own window, closed at once by a channel
// that answers synchronously: the window goes without pulling the floor from
// under its own click.
TEST(PromptQueue, AWindowClosedInsideItsOwnClickIsDeletedLater) {
    corvane::test::ManualClock clock;
    ControlSessions model;
    std::unique_ptr<PromptQueue> queue;
    queue = std::make_unique<PromptQueue>(
        clock,
        [&](uint64_t id, PromptAnswer) {
            model.apply(closedLine(id));
            queue->update(model.prompts());
            return true;
        },
        nullptr);
    ASSERT_TRUE(model.apply(promptLine(4, "carol", "password")));
    queue->update(model.prompts());
    QPointer<ConnectPrompt> window = queue->shown();
    ASSERT_TRUE(window);
    QTest::mouseClick(window->allowButton, Qt::LeftButton);
    EXPECT_EQ(queue->shown(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window) << "deleted once back in the event loop";
}

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

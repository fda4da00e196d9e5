// Jobs handed to the main thread: they run there while the application
// lives, and are dropped (never run on the posting thread) when it is gone or
// going. Each step runs in a helper process that owns its application.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "app/core/main_queue.h"
#include "app/core/spawn.h"
#include "child_roles.h"

using namespace corvane::app;

namespace {

// Posts from another thread; tells whether the job ran on that thread.
bool postFromWorker(std::function<void()> job) {
    std::atomic<bool> ranThere{false};
    std::thread worker([&] {
        const auto self = std::this_thread::get_id();
        postToMain([job = std::move(job), self, &ranThere] {
            if (std::this_thread::get_id() == self)
                ranThere = true;
            job();
        });
    });
    worker.join();
    return ranThere;
}

int mainQueueRole() {
    std::string report;
    std::atomic<bool> ran{false};
    postFromWorker([&] { ran = true; });
    report += ran ? "before:ran " : "before:dropped ";
    {
        int argc = 1;
        char name[] = "main-queue";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        const auto mainThread = std::this_thread::get_id();
        std::atomic<bool> onMain{false};
        postFromWorker([&] {
            onMain = std::this_thread::get_id() == mainThread;
            QCoreApplication::quit();
        });
        QCoreApplication::exec();
        report += onMain ? "running:main " : "running:elsewhere ";

        ran = false;
        postFromWorker([&] { ran = true; });
        QCoreApplication::processEvents();
        report += ran ? "ended:ran " : "ended:dropped ";
    }
    ran = false;
    postFromWorker([&] { ran = true; });
    report += ran ? "gone:ran" : "gone:dropped";
    std::printf("%s\n", report.c_str());
    return 0;
}

const bool registered = corvane::test::registerChildRole("main-queue", mainQueueRole);

} // namespace

TEST(MainQueue, JobsRunOnTheMainThreadOnlyWhileTheApplicationRuns) {
    ASSERT_TRUE(registered);
    auto out = Spawn::output(corvane::test::selfExecutable(), {},
                             {{"CORVANE_TEST_ROLE", "main-queue"}}, 20);
    ASSERT_TRUE(out);
    // The report is the last line, after the test runner's own banner.
    const std::string report = out->substr(out->rfind('\n', out->size() - 2) + 1);
    EXPECT_EQ(report, "before:dropped running:main ended:dropped gone:dropped\n");
}

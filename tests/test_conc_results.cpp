// The recording queue between the threads that hand it records (the GUI thread, a remote
// session) and the one that writes them: every record once, every callback run, nothing left
// behind when it is destroyed.
#include "app/results.h"
#include "files/results_db.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(RecordingQueue, RecordsFromTwoThreadsArriveOnceEachAndDestructionDrains) {
    char tmpl[] = "/tmp/velt_queue_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    const std::string target = (dir / "results.sqlite").string();
    std::atomic<int> stored{0};
    {
        results::RecordingQueue queue(std::make_unique<results::Recorder>(
            target, (dir / results::kSpoolFile).string(), nullptr));
        const auto hand = [&](const char* prefix) {
            for (int i = 0; i < 200; ++i) {
                results::Record r;
                r.id = results::newRecordId();
                r.time = results::utcNow();
                r.serial = prefix + std::to_string(i);
                r.zones = {{"z", 50, 5, 50, 49, 51, 0.1, "PASS"}};
                queue.submit(
                    r, [&](results::Delivery d) { stored += d == results::Delivery::Stored; });
            }
        };
        std::thread a(hand, "A"), b(hand, "B");
        a.join();
        b.join();
        queue.drain();
        EXPECT_EQ(stored.load(), 400);
        hand("C"); // left queued: the destructor sends them
    }
    EXPECT_EQ(stored.load(), 600);
    std::string error;
    auto store = results::openStore(target, error);
    ASSERT_TRUE(store) << error;
    std::set<std::string> serials;
    std::size_t n = 0;
    store->select(
        {}, [&](const results::Record& r) { serials.insert(r.serial), ++n; }, error);
    EXPECT_EQ(n, 600u);
    EXPECT_EQ(serials.size(), 600u);
    fs::remove_all(dir);
}

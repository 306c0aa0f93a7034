// The journaled byte store on the simulated disk: the power cut at every
// call of random save sequences, and every call failing, against a model of
// what each commit point holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "plugin/storage/JournaledFile.h"
#include "plugin/storage/RollbackJournal.h"
#include "tests/storage/SimulatedFiles.h"

using namespace parleym;
using storage_test::Fault;
using storage_test::FaultPlan;
using storage_test::SimulatedFileSystem;

namespace {
const std::wstring kPath = L"C:\\data\\logs.dat";

struct Step {
    enum Kind { write, resize, commit } kind;
    std::uint64_t offset;  // or the new size
    Bytes data;
};

void Apply(Bytes& model, const Step& step);

// Writes over and past the end, writes of what is there already, cuts and
// growths, and a commit every few steps.
std::vector<Step> RandomSteps(unsigned seed, int count) {
    std::mt19937 random(seed);
    std::vector<Step> steps;
    Bytes model;
    for (int i = 0; i < count; ++i) {
        const unsigned pick = random() % 11;
        const std::size_t before = steps.size();
        if (pick < 6) {
            const std::uint64_t offset = model.empty() ? 0 : random() % (model.size() + 700);
            Bytes data(1 + random() % (pick == 0 ? 3000 : 600));
            for (auto& byte : data) byte = static_cast<std::uint8_t>(random());
            steps.push_back({Step::write, offset, std::move(data)});
        } else if (pick < 8) {
            const std::uint64_t size = pick == 6 ? model.size() / 2 + random() % 300 : model.size() + random() % 1500;
            steps.push_back({Step::resize, size, {}});
        } else if (pick == 10 && model.size() > 1024) {
            const std::size_t offset = random() % (model.size() - 1024);
            steps.push_back({Step::write, offset, Bytes(model.begin() + offset, model.begin() + offset + 1024)});
        }
        if (steps.size() > before) Apply(model, steps.back());
        if (pick == 8 || pick == 9 || i % 5 == 4) steps.push_back({Step::commit, 0, {}});
    }
    steps.push_back({Step::commit, 0, {}});
    return steps;
}

void Apply(Bytes& model, const Step& step) {
    if (step.kind == Step::resize) model.resize(static_cast<std::size_t>(step.offset), 0);
    if (step.kind != Step::write) return;
    const std::size_t end = static_cast<std::size_t>(step.offset) + step.data.size();
    if (end > model.size()) model.resize(end, 0);
    std::copy(step.data.begin(), step.data.end(), model.begin() + static_cast<std::ptrdiff_t>(step.offset));
}

Bytes ReadAll(JournaledFile& file) {
    Bytes bytes(static_cast<std::size_t>(file.Size()));
    std::size_t got = 0;
    EXPECT_EQ(file.Read(0, bytes.data(), bytes.size(), got), disk_error::kNone);
    EXPECT_EQ(got, bytes.size());
    return bytes;
}

// Runs `steps` until the first failure; the models committed so far.
std::vector<Bytes> RunSteps(SimulatedFileSystem& files, const std::vector<Step>& steps) {
    std::vector<Bytes> committed{Bytes()};
    std::unique_ptr<JournaledFile> file;
    if (JournaledFile::Open(files, kPath, JournaledFile::Mode::readWrite, file) != disk_error::kNone) return committed;
    Bytes model;
    for (const Step& step : steps) {
        DiskError error = disk_error::kNone;
        if (step.kind == Step::write) error = file->Write(step.offset, step.data.data(), step.data.size());
        if (step.kind == Step::resize) error = file->SetSize(step.offset);
        if (step.kind == Step::commit) error = file->Commit();
        if (error != disk_error::kNone) break;
        Apply(model, step);
        if (step.kind == Step::commit) committed.push_back(model);
    }
    return committed;
}

// What an open after the end finds, read three ways that must agree.
Bytes FoundAfterEnd(SimulatedFileSystem& files) {
    const Bytes main = files.Contents(kPath);
    Bytes inMemory = main;
    RollBackInMemory(inMemory, files.Contents(JournaledFile::JournalPath(kPath)));
    if (files.Exists(kPath)) {
        std::unique_ptr<JournaledFile> view;
        EXPECT_EQ(JournaledFile::Open(files, kPath, JournaledFile::Mode::readOnly, view), disk_error::kNone);
        if (view) {
            EXPECT_EQ(ReadAll(*view), inMemory);
        }
        view.reset();
        EXPECT_EQ(files.Contents(kPath), main) << "a read-only look wrote";
    }
    std::unique_ptr<JournaledFile> file;
    EXPECT_EQ(JournaledFile::Open(files, kPath, JournaledFile::Mode::readWrite, file), disk_error::kNone);
    if (!file) return Bytes(1, 0xEE);
    const Bytes opened = ReadAll(*file);
    EXPECT_EQ(opened, inMemory);
    file.reset();
    EXPECT_EQ(files.Contents(kPath), opened) << "the rollback did not reach the file";
    EXPECT_FALSE(files.Exists(JournaledFile::JournalPath(kPath))) << "the journal stayed";
    return opened;
}

TEST(JournaledFileTest, PowerCutAtEveryCallLeavesOneCommitPointOrTheNext) {
    long crashes = 0;
    long commits = 0;
    long failures = 0;
    for (unsigned seed = 1; seed <= 10; ++seed) {
        const std::vector<Step> steps = RandomSteps(seed, 40);
        SimulatedFileSystem counting;
        counting.Arm(FaultPlan{});
        const std::vector<Bytes> models = RunSteps(counting, steps);
        const long calls = counting.Calls();
        commits += static_cast<long>(models.size()) - 1;
        for (long cut = 1; cut <= calls; ++cut) {
            for (unsigned variant = 0; variant < 3; ++variant) {
                SCOPED_TRACE("seed " + std::to_string(seed) + " cut " + std::to_string(cut) + " variant " +
                             std::to_string(variant));
                SimulatedFileSystem files;
                files.Arm(FaultPlan{0, false, Fault::refuse, cut});
                const std::size_t done = RunSteps(files, steps).size();
                std::mt19937 random(seed * 7919 + static_cast<unsigned>(cut) * 31 + variant);
                files.PowerLoss(random);
                const Bytes found = FoundAfterEnd(files);
                ++crashes;
                // The commit under way may or may not have reached its point.
                const bool sound = found == models[done - 1] || (done < models.size() && found == models[done]);
                if (!sound) ++failures;
                EXPECT_TRUE(sound) << "holds " << found.size() << " bytes, committed " << models[done - 1].size();
            }
        }
    }
    std::printf("journaled file: %ld power cuts over %ld commit points, %ld failures\n", crashes, commits, failures);
}

// A failing call anywhere in a commit: the file is put back at once, the
// changes stay readable, and the next commit writes them all.
TEST(JournaledFileTest, EveryFailingCallLeavesTheLastCommitPointAndLaterCommitsCatchUp) {
    const std::vector<Step> steps = RandomSteps(11, 30);
    SimulatedFileSystem counting;
    counting.Arm(FaultPlan{});
    const std::vector<Bytes> models = RunSteps(counting, steps);
    const long calls = counting.Calls();
    const FaultPlan kinds[] = {{0, false, Fault::refuse, 0}, {0, false, Fault::partial, 0},
                               {0, true, Fault::refuse, 0}, {0, true, Fault::diskFull, 0}};
    for (FaultPlan plan : kinds) {
        for (long failAt = 1; failAt <= calls; ++failAt) {
            SCOPED_TRACE("call " + std::to_string(failAt) + (plan.sticky ? " sticky" : "") + " fault " +
                         std::to_string(static_cast<int>(plan.fault)));
            plan.failAt = failAt;
            SimulatedFileSystem files;
            files.Arm(plan);
            std::unique_ptr<JournaledFile> file;
            if (JournaledFile::Open(files, kPath, JournaledFile::Mode::readWrite, file) != disk_error::kNone) {
                EXPECT_TRUE(files.Contents(kPath).empty());
                continue;
            }
            Bytes model;
            std::size_t ordinal = 0;   // commit points reached by the steps
            std::size_t landed = 0;    // the last one that reached the disk
            bool failed = false;
            for (const Step& step : steps) {
                if (step.kind == Step::write) file->Write(step.offset, step.data.data(), step.data.size());
                if (step.kind == Step::resize) file->SetSize(step.offset);
                Apply(model, step);
                if (step.kind != Step::commit) continue;
                ++ordinal;
                if (file->Commit() == disk_error::kNone) {
                    landed = ordinal;
                    EXPECT_EQ(files.Contents(kPath), models[ordinal]);
                    continue;
                }
                failed = true;
                EXPECT_EQ(ReadAll(*file), model) << "the changes are gone from memory";
                Bytes onDisk = files.Contents(kPath);
                RollBackInMemory(onDisk, files.Contents(JournaledFile::JournalPath(kPath)));
                if (plan.sticky) {
                    // A disk that refuses everything from the clearing of the
                    // journal on may have taken that clearing: the whole save
                    // is then there, though reported as failed.
                    EXPECT_TRUE(onDisk == models[landed] || onDisk == model) << "a save half there";
                } else {
                    EXPECT_EQ(onDisk, models[landed]) << "the file is not as at the last commit point";
                    EXPECT_EQ(files.Contents(kPath), models[landed]) << "not put back at once";
                }
                files.Disarm();  // space comes back
            }
            EXPECT_TRUE(failed || files.Injected() == 0);
            EXPECT_EQ(files.Contents(kPath), models.back());
        }
    }
}

// A journal written by hand: records of the old bytes, a trailer of the new.
Bytes Journal(std::uint64_t nonce, std::uint64_t committedSize, const std::vector<std::pair<std::uint64_t, Bytes>>& old,
              std::uint64_t newSize, const std::vector<std::pair<std::uint64_t, Bytes>>& fresh) {
    Bytes journal = EncodeJournalHeader(JournalHeader{nonce, committedSize});
    for (const auto& record : old)
        AppendJournalRecord(journal, nonce, record.first, record.second.data(), static_cast<std::uint32_t>(record.second.size()));
    JournalTrailer trailer;
    trailer.newSize = newSize;
    for (const auto& page : fresh)
        trailer.pages.push_back({page.first, JournalPageChecksum(nonce, page.second.data(), page.second.size())});
    AppendJournalTrailer(journal, nonce, trailer);
    return journal;
}

// What the file beside a journal becomes at an open, for each kind of journal.
TEST(JournaledFileTest, OnlyAJournalOfASaveCutShortIsRolledBack) {
    // The file as an end left it: the page at 512 written anew, the one at
    // 1024 not yet; the save had grown the file from 1500 bytes.
    const Bytes onDisk(2000, 0x11);
    const Bytes oldPage(512, 0x22);
    const Bytes newPage(512, 0x33);
    const Bytes samePage(512, 0x11);
    const auto saveCutShort = [&](std::uint64_t nonce) {
        return Journal(nonce, 1500, {{512, oldPage}, {1024, Bytes(476, 0x11)}}, 2000,
                       {{512, samePage}, {1024, newPage}});
    };
    Bytes rolledBack(onDisk.begin(), onDisk.begin() + 512);
    rolledBack.insert(rolledBack.end(), oldPage.begin(), oldPage.end());
    rolledBack.insert(rolledBack.end(), onDisk.begin() + 1024, onDisk.begin() + 1500);
    const Bytes hot = saveCutShort(42);
    Bytes headerTorn = hot;
    headerTorn[20] ^= 1;
    Bytes recordTorn = hot;
    recordTorn[kJournalHeaderSize + 40] ^= 1;
    Bytes otherNonce = EncodeJournalHeader(JournalHeader{43, 1500});
    otherNonce.insert(otherNonce.end(), hot.begin() + kJournalHeaderSize, hot.end());
    struct Case {
        const char* name;
        bool fileExisted;
        Bytes journal;
        Bytes expected;
    };
    const Case cases[] = {
        {"a save cut short", true, hot, rolledBack},
        {"a save that reached its commit point", true,
         Journal(42, 1500, {{512, oldPage}}, 2000, {{512, samePage}}), onDisk},
        {"header torn", true, headerTorn, onDisk},
        {"a record torn", true, recordTorn, onDisk},
        {"records of another save", true, otherNonce, onDisk},
        {"without its trailer", true, Bytes(hot.begin(), hot.end() - 30), onDisk},
        {"a size beyond the file and every record", true, Journal(42, 1u << 30, {}, 2000, {{0, Bytes(512, 9)}}), onDisk},
        {"beside a file that was not there", false, hot, Bytes()},
        {"empty", true, Bytes(), onDisk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimulatedFileSystem files;
        if (c.fileExisted) files.SetContents(kPath, onDisk);
        files.SetContents(JournaledFile::JournalPath(kPath), c.journal);
        Bytes inMemory = c.fileExisted ? onDisk : Bytes();
        if (c.fileExisted) {
            RollBackInMemory(inMemory, c.journal);
            EXPECT_EQ(inMemory, c.expected);
        }
        std::unique_ptr<JournaledFile> file;
        ASSERT_EQ(JournaledFile::Open(files, kPath, JournaledFile::Mode::readWrite, file), disk_error::kNone);
        EXPECT_EQ(ReadAll(*file), c.expected);
        file.reset();
        EXPECT_EQ(files.Contents(kPath), c.expected);
        EXPECT_FALSE(files.Exists(JournaledFile::JournalPath(kPath)));
    }
}

} // namespace

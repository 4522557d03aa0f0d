// SPDX-License-Identifier: Apache-2.0
// Copyright 2026 The Folioset developers
// The document file against a plain model of a file: any mix of seeks,
// writes (appends, gaps past the end, patches of bytes held or already out,
// writes larger than what is held) and reads leaves exactly the model's
// bytes in the file and reads the model's bytes back; a failed write is
// reported then and at every later call.
#include "DocumentFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

using folio::tiflib::DocumentFile;

struct ScratchFile {
    std::string path;
    int fd = -1;
    ScratchFile() {
        char name[] = "/tmp/folio-docfile-XXXXXX";
        fd = ::mkstemp(name);
        path = name;
    }
    ~ScratchFile() {
        ::close(fd);
        ::unlink(path.c_str());
    }
    std::vector<std::uint8_t> contents() const {
        std::vector<std::uint8_t> bytes;
        if (FILE* f = std::fopen(path.c_str(), "rb")) {
            int c;
            while ((c = std::fgetc(f)) != EOF)
                bytes.push_back(std::uint8_t(c));
            std::fclose(f);
        }
        return bytes;
    }
};

// Writes `n` bytes at `at` in the model, zeros filling any gap.
void modelWrite(std::vector<std::uint8_t>& model, std::uint64_t at,
                const std::vector<std::uint8_t>& bytes) {
    if (model.size() < at + bytes.size())
        model.resize(at + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), model.begin() + std::ptrdiff_t(at));
}

TEST(DocumentFile, AnyMixOfCallsLeavesTheModelsBytes) {
    for (unsigned seed = 1; seed <= 12; ++seed) {
        ScratchFile scratch;
        ASSERT_GE(scratch.fd, 0);
        DocumentFile file(scratch.fd);
        std::vector<std::uint8_t> model;
        std::mt19937 random(seed);
        for (int step = 0; step < 400; ++step) {
            const std::uint64_t end = model.size();
            std::uint64_t at = 0;
            switch (random() % 6) {
            case 0: // append
            case 1:
                at = end;
                break;
            case 2: // a gap past the end
                at = end + random() % 300;
                break;
            case 3: // a patch near the end (mostly held)
                at = end > 300 ? end - 1 - random() % 300 : 0;
                break;
            default: // anywhere
                at = end ? random() % end : 0;
                break;
            }
            // Mostly small writes, now and then one past what is held (256 KiB).
            const std::size_t n = random() % 50 == 0  ? (1u << 20) + random() % 5000
                                  : random() % 4 == 0 ? random() % 200'000
                                                      : 1 + random() % 300;
            std::vector<std::uint8_t> bytes(n);
            std::uint32_t x = random();
            for (auto& b : bytes)
                b = std::uint8_t((x = x * 1103515245u + 12345u) >> 24);
            ASSERT_EQ(file.Seek(at, SEEK_SET), at);
            ASSERT_EQ(file.Write(bytes.data(), n), std::int64_t(n));
            modelWrite(model, at, bytes);
            ASSERT_EQ(file.Size(), model.size());
            // Read back a stretch somewhere, held or not.
            if (random() % 3 == 0 && !model.empty()) {
                const std::uint64_t from = random() % model.size();
                const std::size_t len =
                    std::min<std::size_t>(model.size() - from, 1 + random() % 5000);
                std::vector<std::uint8_t> got(len);
                ASSERT_EQ(file.Seek(from, SEEK_SET), from);
                ASSERT_EQ(file.Read(got.data(), len), std::int64_t(len));
                ASSERT_TRUE(
                    std::equal(got.begin(), got.end(), model.begin() + std::ptrdiff_t(from)))
                    << "seed " << seed << " step " << step;
            }
        }
        EXPECT_EQ(file.Seek(0, SEEK_END), model.size());
        ASSERT_TRUE(file.Close());
        EXPECT_EQ(scratch.contents(), model) << "seed " << seed;
    }
}

TEST(DocumentFile, AFailedWriteIsReportedAndStays) {
    // A file size limit, its signal ignored: writes past it fail with EFBIG.
    ScratchFile scratch;
    ASSERT_GE(scratch.fd, 0);
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100'000;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    {
        DocumentFile file(scratch.fd);
        std::vector<std::uint8_t> bytes(60'000, 7);
        EXPECT_EQ(file.Write(bytes.data(), bytes.size()), 60'000); // held
        EXPECT_EQ(file.Write(bytes.data(), bytes.size()), 60'000); // held
        EXPECT_FALSE(file.Flush());
        EXPECT_EQ(errno, EFBIG);
        EXPECT_EQ(file.Write(bytes.data(), 10), -1); // the failure stays
        EXPECT_FALSE(file.Flush());
        EXPECT_FALSE(file.Close());
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}

} // namespace

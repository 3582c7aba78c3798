#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

#include "platform/HandleIO.h"
#include "platform/Handles.h"

namespace {

struct TPipe {
    TFileHandle Read, Write;
    TPipe() {
        HANDLE read = nullptr, write = nullptr;
        EXPECT_TRUE(::CreatePipe(&read, &write, nullptr, 0));
        Read.reset(read);
        Write.reset(write);
    }
};

std::string Bytes(size_t ACount) {
    std::string bytes(ACount, '\0');
    for (size_t i = 0; i < ACount; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

// Through a pipe smaller than the run, so that both sides loop; the reader's
// end is its writer closing, not an error.
TEST(HandleIO, APipeCarriesEveryByteAndItsClosedEndIsTheEnd) {
    for (const size_t count : {size_t{0}, size_t{1}, size_t{4096}, size_t{4097}, size_t{3} << 20}) {
        TPipe pipe;
        const std::string sent = Bytes(count);
        unsigned long writeError = 1;
        std::jthread writer([&] {
            writeError = WriteAll(pipe.Write.get(), sent);
            pipe.Write.reset();
        });
        std::string received = "kept:";
        EXPECT_EQ(ReadAll(pipe.Read.get(), received), 0u) << count;
        writer.join();
        EXPECT_EQ(writeError, 0u) << count;
        EXPECT_TRUE(received == "kept:" + sent) << count << " bytes sent, " << received.size();
    }
}

TEST(HandleIO, AFailedCallAnswersItsCode) {
    TPipe pipe;
    std::string received;
    EXPECT_EQ(WriteAll(pipe.Read.get(), "x"), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ReadAll(pipe.Write.get(), received), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(received.empty());
}

} // namespace

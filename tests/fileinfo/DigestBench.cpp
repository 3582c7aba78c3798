// digestbench <file> [rounds]: DigestFile's throughput on one file, the best
// of a few rounds, as "digest.mib_s: <MiB per second>". Used by scripts/bench.
#include <windows.h>

#include <cstdio>
#include <string>

#include "fileinfo/FileDigest.h"

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 3;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (!::GetFileAttributesExW(argv[1], GetFileExInfoStandard, &attributes))
        return 1;
    const double mebibytes =
        ((static_cast<double>(attributes.nFileSizeHigh) * 4294967296.0) + attributes.nFileSizeLow) /
        (1024.0 * 1024.0);
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        LARGE_INTEGER start, end;
        ::QueryPerformanceCounter(&start);
        TFileDigest digest;
        DWORD error = ERROR_SUCCESS;
        if (!DigestFile(argv[1], digest, error))
            return 1;
        ::QueryPerformanceCounter(&end);
        const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) /
                               static_cast<double>(frequency.QuadPart);
        if (seconds > 0 && mebibytes / seconds > best)
            best = mebibytes / seconds;
    }
    std::printf("digest.mib_s: %.0f\n", best);
    return 0;
}

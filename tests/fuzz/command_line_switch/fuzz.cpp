// The command-line switch matcher on any text: the input's 16-bit units,
// split at the first zero into a word from the command line and a switch.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "diagnostics/CommandLineSwitch.h"
#include "tests/fuzz/FuzzRequire.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
    std::wstring units;
    for (size_t i = 0; i + 1 < ASize; i += 2)
        units += static_cast<wchar_t>(AData[i] | (AData[i + 1] << 8));
    const size_t zero = units.find(L'\0');
    const std::wstring argument = units.substr(0, zero);
    const std::wstring word = zero == std::wstring::npos ? L"" : units.substr(zero + 1);

    const bool isSwitch = IsCmdLineSwitch(argument, word);
    const bool names = NamesParameter(argument, word);
    // A word is its own switch after either mark, and names itself bare.
    Require(IsCmdLineSwitch(L"-" + word, word) && IsCmdLineSwitch(L"/" + word, word));
    if (word.empty() || (word[0] != L'-' && word[0] != L'/'))
        Require(NamesParameter(word, word) && NamesParameter(L"/--" + word, word));
    // "-" or "/" and the word itself is a switch and, but for "/-", names it.
    if (isSwitch && argument.substr(0, 2) != L"/-" && (word.empty() || word[0] != L'-'))
        Require(names);
    return 0;
}

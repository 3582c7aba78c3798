#include "hook/InjectionOutcomes.h"

TInjectionOutcomeKind ClassifyVisit(TInjectionDirection ADirection, const TVisitFacts& AFacts) {
    if (!AFacts.Reached)
        return iokLate;
    if (!AFacts.Opened)
        return iokNotOpened;
    if (AFacts.Critical || AFacts.Protected)
        return iokCritical;
    if (AFacts.Frozen)
        return iokFrozen;
    switch (AFacts.Start) {
    case vsNothingToDo:
        return iokDone;
    case vsNoLibrary:
        return iokNoLibrary;
    case vsNotStarted:
        return iokNotStarted;
    case vsStarted:
        break;
    }
    // A process that is gone holds nothing any more, whatever its thread did.
    if (AFacts.ProcessEnded)
        return iokEnded;
    if (!AFacts.ThreadEnded)
        return iokLate;
    if (AFacts.ExitCode != 0)
        return iokDone;
    return ADirection == idLoad && AFacts.LoadedAfterAll ? iokDone : iokRefused;
}

bool OutcomeFailsCall(TInjectionOutcomeKind AKind) {
    return AKind == iokLate;
}

bool TInjectionCounts::Failed() const {
    for (size_t kind = 0; kind < iokCount; ++kind) {
        if (Of[kind] > 0 && OutcomeFailsCall(static_cast<TInjectionOutcomeKind>(kind)))
            return true;
    }
    return false;
}

size_t TInjectionOutcome::Admitted() const {
    size_t admitted = 0;
    for (size_t count : Counts.Of)
        admitted += count;
    return admitted;
}

size_t TInjectionOutcome::Unreached() const {
    return Counts[iokLate] + Counts[iokNotStarted];
}

std::wstring InjectionCountsText(const std::wstring& ARoutine, const std::wstring& ALibrary,
                                 TInjectionDirection ADirection, const TInjectionCounts& ACounts) {
    static constexpr const wchar_t* Words[iokCount] = {nullptr,        L"refused",    L"late",
                                                       L"frozen",      L"critical",   L"not opened",
                                                       L"not started", L"no library", L"ended"};
    std::wstring text = ARoutine + L" " + ALibrary + L":";
    for (size_t kind = 0; kind < iokCount; ++kind) {
        const wchar_t* word =
            kind == iokDone ? (ADirection == idLoad ? L"loaded" : L"unloaded") : Words[kind];
        text += (kind == 0 ? L" " : L", ") + std::wstring(word) + L" " +
                std::to_wstring(ACounts.Of[kind]);
    }
    return text;
}

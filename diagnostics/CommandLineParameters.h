// The command-line parameter registry: the program's modules declare, in
// groups, the switches they understand, so that a help page can be printed
// from it and each switch can tell whether it was given.
#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// How a group's parameters are to be given. Stored, searched and sorted on;
// never checked against a command line.
enum TGroupNecessities {
    gnAllMandatory,
    gnExactlyOneMandatory,
    gnAllOptional,
    gnOneOreMore,
    gnZeroOrOne
};

// An ordered collection that owns its items; each item knows the collection
// it was created in. TSelf is the derived collection.
template <typename TItem, typename TSelf> class TOwningCollection {
public:
    TOwningCollection() = default;
    TOwningCollection(const TOwningCollection&) = delete;
    TOwningCollection& operator=(const TOwningCollection&) = delete;

    std::size_t Count() const { return FItems.size(); }
    TItem& Items(std::size_t AIndex) { return *FItems.at(AIndex); }
    const TItem& Items(std::size_t AIndex) const { return *FItems.at(AIndex); }
    // A new item at the end.
    TItem& Add() { return Insert(FItems.size()); }
    // A new item at AIndex (at most Count()).
    TItem& Insert(std::size_t AIndex) {
        auto item = std::make_unique<TItem>(static_cast<TSelf*>(this));
        TItem& result = *item;
        FItems.insert(FItems.begin() + static_cast<std::ptrdiff_t>(AIndex), std::move(item));
        return result;
    }
    void Delete(std::size_t AIndex) {
        FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(AIndex));
    }
    void Clear() { FItems.clear(); }
    // The index of AItem, or Count() when it is not (or no longer) in the collection.
    std::size_t IndexOf(const TItem* AItem) const {
        std::size_t index = 0;
        while (index < FItems.size() && FItems[index].get() != AItem)
            ++index;
        return index;
    }

protected:
    // The first item, in collection order, for which APredicate holds.
    template <typename TPredicate> TItem* FindFirst(TPredicate APredicate) const {
        for (const auto& item : FItems) {
            if (APredicate(*item))
                return item.get();
        }
        return nullptr;
    }
    template <typename TLess> void SortBy(TLess ALess) {
        std::stable_sort(FItems.begin(), FItems.end(),
                         [&](const auto& a, const auto& b) { return ALess(*a, *b); });
    }

private:
    std::vector<std::unique_ptr<TItem>> FItems;
};

class TCommandLineParameterItems;
class TCommandLineParameters;

// One parameter: the switch word without its "/" or "-", how the help page
// writes it, what it does, and whether it was on the command line when the
// name was set.
class TCommandLineParameterItem {
public:
    explicit TCommandLineParameterItem(TCommandLineParameterItems* AOwner) : FOwner(AOwner) {}
    TCommandLineParameterItem(const TCommandLineParameterItem&) = delete;
    TCommandLineParameterItem& operator=(const TCommandLineParameterItem&) = delete;

    TCommandLineParameterItems* Owner() const { return FOwner; }
    const std::wstring& ParameterName() const { return FParameterName; }
    // Also sets Syntax to the name when Syntax is empty and the name changes,
    // and recomputes IsSet from the process's command line.
    void SetParameterName(const std::wstring& AValue);
    const std::wstring& Syntax() const { return FSyntax; }
    void SetSyntax(const std::wstring& AValue) { FSyntax = AValue; }
    const std::wstring& Description() const { return FDescription; }
    void SetDescription(const std::wstring& AValue) { FDescription = AValue; }
    bool IsSet() const { return FIsSet; }

    // Whether AText names this parameter, written bare or after "/", "--",
    // "-" or "/--", in any case.
    bool MatchesString(const std::wstring& AText) const;
    bool MatchesString(const std::string& AText) const; // ANSI
    // Copies name, syntax and description as stored; IsSet stays as it is.
    void Assign(const TCommandLineParameterItem& ASource);
    std::wstring GetDisplayName() const;

private:
    TCommandLineParameterItems* FOwner;
    std::wstring FParameterName;
    std::wstring FSyntax;
    std::wstring FDescription;
    bool FIsSet = false;
};

class TCommandLineParameterItems
    : public TOwningCollection<TCommandLineParameterItem, TCommandLineParameterItems> {
public:
    // Exact comparison, case included; the first match or null.
    TCommandLineParameterItem* FindParameterName(const std::wstring& AValue) const;
    TCommandLineParameterItem* FindSyntax(const std::wstring& AValue) const;
    TCommandLineParameterItem* FindDescription(const std::wstring& AValue) const;
    // Ascending, case-insensitive.
    void SortParameterName();
    void SortSyntax();
    void SortDescription();
};

// One group of parameters, under a heading of the help page.
class TCLPGroup {
public:
    explicit TCLPGroup(TCommandLineParameters* AOwner) : FOwner(AOwner) {}
    TCLPGroup(const TCLPGroup&) = delete;
    TCLPGroup& operator=(const TCLPGroup&) = delete;

    TCommandLineParameters* Owner() const { return FOwner; }
    const std::wstring& GroupName() const { return FGroupName; }
    void SetGroupName(const std::wstring& AValue) { FGroupName = AValue; }
    const std::wstring& Description() const { return FDescription; }
    void SetDescription(const std::wstring& AValue) { FDescription = AValue; }
    TGroupNecessities Necessity() const { return FNecessity; }
    void SetNecessity(TGroupNecessities AValue) { FNecessity = AValue; }
    TCommandLineParameterItems& Parameters() { return *FParameters; }
    const TCommandLineParameterItems& Parameters() const { return *FParameters; }
    // Replaces the parameters by copies of AValue's.
    void SetParameters(const TCommandLineParameterItems& AValue);

    TCommandLineParameterItem& AddParameter(const std::wstring& AName,
                                            const std::wstring& ADescription);
    // The parameters' Syntax joined with "," (no spaces).
    std::wstring ItemText() const;
    void Assign(const TCLPGroup& ASource);
    std::wstring GetDisplayName() const;

private:
    TCommandLineParameters* FOwner;
    std::wstring FGroupName;
    std::wstring FDescription;
    TGroupNecessities FNecessity = gnAllMandatory;
    std::unique_ptr<TCommandLineParameterItems> FParameters =
        std::make_unique<TCommandLineParameterItems>();
};

// The registry: the groups in the order they were registered.
class TCommandLineParameters : public TOwningCollection<TCLPGroup, TCommandLineParameters> {
public:
    TCLPGroup* FindGroupName(const std::wstring& AValue) const;
    TCLPGroup* FindDescription(const std::wstring& AValue) const;
    TCLPGroup* FindNecessity(TGroupNecessities AValue) const;
    // The group that owns AParameters.
    TCLPGroup* FindParameters(const TCommandLineParameterItems* AParameters) const;
    void SortGroupName();
    void SortDescription();
    void SortNecessity();
    void SortParameters(); // by ItemText

    // Appends the help page to ALines; groups without parameters are left out.
    void ToLines(std::vector<std::wstring>& ALines) const;
    // Writes the help page to standard output, in console programs only.
    void WriteLn() const;
    // Whether AArgument is one of the declared parameters written as a switch:
    // "/" or "-" and the name, and for a parameter whose syntax is
    // "name:<value>" a colon and the value.
    bool Declares(const std::wstring& AArgument) const;
    // With the switch "help", "?" or "man" given: the help page, then the
    // program ends with exit code 0.
    void TestWriteLn() const;
};

// The process-wide registry, created on first use.
TCommandLineParameters& CommandLineParameters();
// The "Basic" and "Automation" groups, created in the registry on first use.
TCLPGroup& BasicParameterGroup();
TCLPGroup& AutomationParameterGroup();

// The arguments of the process's command line after the program name.
std::vector<std::wstring> ProcessArguments();
// Whether one of AArguments is "-" or "/" followed by AWord, in any case.
bool FindCmdLineSwitch(const std::vector<std::wstring>& AArguments, const std::wstring& AWord);
bool FindCmdLineSwitch(const std::wstring& AWord);
// The value of the first of AArguments that is "-" or "/" followed by AWord
// (in any case), a colon and the value, which may be empty; none when no
// argument is.
std::optional<std::wstring> FindCmdLineValue(const std::vector<std::wstring>& AArguments,
                                             const std::wstring& AWord);
// Whether the running executable is a console program.
bool IsConsoleProgram();

// Module steps: the start-up registers "help" and "verbose" (Basic) and
// "silent" (Automation); the shut-down destroys the registry.
void CommandLineParametersStartUp();
void CommandLineParametersShutDown();

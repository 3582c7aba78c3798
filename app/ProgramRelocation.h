// The start-up relocation: the tool only works from inside the product's
// installation folder, so when it was started elsewhere it offers to copy
// itself there (the folder comes from the installer's uninstall record), to
// start the copy and to end itself. The whole tool goes: the program, its
// console twin and its translations, each file whole, all or none.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

inline constexpr const wchar_t* RelocationQuestion =
    L"This tool only works from within the Vexlo folder. Do you want to move it there (and "
    L"restart the tool)?";
inline constexpr const wchar_t* InstallLocationUnknown =
    L"Unable to determine Vexlo installation location. Please move manually.";
// The dialogs' captions: those of a confirmation and of an error.
inline constexpr const wchar_t* ConfirmationCaption = L"Confirm";
inline constexpr const wchar_t* ErrorCaption = L"Error";

// The installer's uninstall record below HKEY_LOCAL_MACHINE, and its value
// naming the installation folder.
inline constexpr const wchar_t* VexloUninstallKey =
    L"SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    L"{7E21A9C4-3B58-4F0D-9C6E-52D1B8A04F93}_is1";
inline constexpr const wchar_t* InstallLocationValue = L"InstallLocation";

// The exit code of a tool that has started its copy in the installation folder.
inline constexpr int RelocatedExitCode = 1;

// What the relocation does to the system: dialogs, registry, files, shell.
// The tool binds the real ones (TSystemRelocation); tests bind a recorder.
class TRelocationSystem {
public:
    virtual ~TRelocationSystem() = default;
    virtual bool FileExists(const std::wstring& APath) = 0;
    // The question with Yes and No (question icon); the dialog's answer.
    virtual int Ask(const std::wstring& AQuestion) = 0;
    // An error with OK (error icon).
    virtual void ShowError(const std::wstring& AMessage) = 0;
    // "InstallLocation" of the uninstall record: none when the key does not
    // open with full access or the value is not text; a missing value is
    // empty text.
    virtual std::optional<std::wstring> ReadInstallLocation() = 0;
    // The tool's files beside the program AProgramFileName, by their names
    // relative to its folder, the program's own first (ToolFiles).
    virtual std::vector<std::wstring> ToolFiles(const std::wstring& AProgramFileName) = 0;
    // Copies AFiles from the folder AFrom into the folder ATo, all of them or
    // none (CopyWholeOrNothing). On failure AFailed is the index of the file
    // that failed and AErrorCode the system's error code.
    virtual bool Copy(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
                      const std::wstring& ATo, std::size_t& AFailed, DWORD& AErrorCode) = 0;
    // Starts the program through the shell, without arguments, shown.
    virtual bool Start(const std::wstring& AProgram, DWORD& AErrorCode) = 0;
};

enum TRelocation { rlStayed, rlRelocated };

// The relocation check for the program at AProgramFileName. Answers
// rlRelocated only once the copy in the installation folder has been started;
// in every other case the start-up goes on in the current folder, after an
// error dialog where the relocation was wanted but failed.
TRelocation CheckProgramFolder(TRelocationSystem& ASystem, const std::wstring& AProgramFileName);
// The same for this program, asking and answering in boxes owned by AOwner.
TRelocation CheckThisProgramFolder(HWND AOwner);

// The tool's files beside the program AProgramFileName, relative to its
// folder: the program itself, its console twin (its name with ".com") when it
// lies there, and every file below the folder "locale" (the translations),
// in the order of their names.
std::vector<std::wstring> ToolFiles(const std::wstring& AProgramFileName);

// The copy's path: the installation folder, with a "\" unless it ends in
// one, followed by the program's file name.
std::wstring RelocationTarget(const std::wstring& AInstallLocation,
                              const std::wstring& AProgramFileName);

// The error dialogs of a relocation that failed after the location was known.
std::wstring CopyFailedMessage(const std::wstring& ATarget, DWORD AErrorCode);
std::wstring StartFailedMessage(const std::wstring& ATarget, DWORD AErrorCode);

// The system error code for a failed ShellExecuteW's result (32 or less):
// most results are system error codes already, the shell's own are mapped.
DWORD ShellExecuteErrorCode(INT_PTR AResult);

// The real dialogs (owned by AOwner), registry, files and shell.
class TSystemRelocation : public TRelocationSystem {
public:
    explicit TSystemRelocation(HWND AOwner) : FOwner(AOwner) {}
    bool FileExists(const std::wstring& APath) override;
    int Ask(const std::wstring& AQuestion) override;
    void ShowError(const std::wstring& AMessage) override;
    std::optional<std::wstring> ReadInstallLocation() override;
    std::vector<std::wstring> ToolFiles(const std::wstring& AProgramFileName) override;
    bool Copy(const std::wstring& AFrom, const std::vector<std::wstring>& AFiles,
              const std::wstring& ATo, std::size_t& AFailed, DWORD& AErrorCode) override;
    bool Start(const std::wstring& AProgram, DWORD& AErrorCode) override;

private:
    HWND FOwner;
};

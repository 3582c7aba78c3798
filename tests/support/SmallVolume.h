// A small volume of its own, mounted for one test (a tmpfs; the tests run as
// root): Wine reaches it through drive Z:, which maps the Unix root. Where
// nothing may be mounted, Refused() says so and the test skips.
#pragma once

#include <string>

class TSmallVolume {
public:
    // Mounts a tmpfs of ASize ("1m", "40m") on a folder named AName and the
    // process id; returns once it is mounted or refused.
    TSmallVolume(const std::wstring& AName, const std::wstring& ASize);
    TSmallVolume(const TSmallVolume&) = delete;
    TSmallVolume& operator=(const TSmallVolume&) = delete;
    // Detached at once, even while a killed program's files are still open.
    ~TSmallVolume();

    bool Mounted() const;
    bool Refused() const;
    // The folder, with its trailing "\".
    std::wstring Folder() const;
    // Takes all the room left on the volume with the file AName in it.
    void Fill(const std::wstring& AName) const;

private:
    std::wstring FUnixFolder;
};

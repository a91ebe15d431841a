// Scratch folders and file helpers for tests that touch the real file system under Wine.
#pragma once

#include <windows.h>

#include <string>

namespace kestrave::testing {

// A fresh folder under the temp folder, removed with everything in it when the object goes.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& Path() const { return path_; }  // no trailing backslash
    std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

  private:
    std::wstring path_;
};

// The folder that holds the running test program (and the test servers).
std::wstring TestBinFolder();
std::wstring TestServerPath(const std::wstring& dllName);

void WriteTextFile(const std::wstring& path, const std::string& content);
std::string ReadWholeFile(const std::wstring& path);
void CopyOrFail(const std::wstring& from, const std::wstring& to);
bool FileExists(const std::wstring& path);
void MakeFolder(const std::wstring& path);
// Removes a folder and everything in it; a link in it goes, never what it leads to.
void RemoveTree(const std::wstring& path);

// A Unix symbolic link at `link` to `target` (a file or a folder), made on the Unix side: Wine
// cannot make junctions, and shows such a link to a folder as a reparse point. False when none
// could be made (outside Wine).
bool MakeUnixLink(const std::wstring& link, const std::wstring& target);
void RemoveUnixLink(const std::wstring& link);

bool RegistryKeyExists(HKEY root, const std::wstring& key);
std::wstring RegistryDefaultValue(HKEY root, const std::wstring& key);

}  // namespace kestrave::testing

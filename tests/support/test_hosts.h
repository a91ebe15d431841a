// The registration hosts that tests run servers in: the host programs built next to the tests.
#pragma once

#include <windows.h>

#include <string>

#include "batch_report.h"
#include "registration_host.h"
#include "test_folder.h"

namespace kestrave::testing {

class TestHostImages : public HostImages {
  public:
    std::wstring ImageFor(ImageKind kind, std::wstring& whyNot) override {
#if defined(_WIN64)
        const bool native = kind == ImageKind::X64;
#else
        const bool native = kind == ImageKind::X86;
#endif
        const std::wstring image =
            TestBinFolder() + (native ? L"\\kestrave_host.exe" : L"\\kestrave_host64.exe");
        if (!native && (kind != ImageKind::X64 || !FileExists(image))) {
            whyNot = kNeeds32BitProgramReason;
            return {};
        }
        return image;
    }
};

}  // namespace kestrave::testing

// The built files themselves: export names and ordinals, the export
// directory's library name, the version resource and the icon group.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "support/paths.h"

namespace {

struct EditionFile {
  const char* file;
  const char* libraryName;
  WORD version[4];
  const char* fileVersion;
  const char* productVersion;
  const char* internalName;
  const char* originalFilename;
  const char* description;
  const char* comments;
  bool comm;  // talks to ports and the network itself
};

const char kCommDescription[] = "Comms for Neobook";
const char kCommComments[] = "Communications Plugin for Neobook 4.13 and above.";

const EditionFile kEditions[] = {
    {"Wirelet.nbp", "Wirelet.dll", {1, 8, 0, 2}, "01.80.0002", "01.80.0002", "Wirelet", "Wirelet.NBP",
     kCommDescription, kCommComments, true},
    {"Quillport.nbp", "Quillport.dll", {4, 0, 0, 0}, "05.00.0000", "05.00.0000", "Quillport",
     "Quillport.NBP", kCommDescription, kCommComments, true},
    {"Wirebench.nbp", "Wirebench.dll", {1, 0, 0, 0}, "01.00.0000", "01.00.0000", "Wirebench",
     "Wirebench.NBP", "Played devices and byte spy for Neobook comms",
     "Works with the Wirelet and Quillport plug-ins in Neobook 4.13 and above.", false},
    {"Wirecodes.nbp", "Wirecodes.dll", {1, 0, 0, 0}, "01.00.0000", "01.00.0000", "Wirecodes",
     "Wirecodes.NBP", "Checksums, byte codes and binary numbers for Neobook",
     "Works with the Wirelet and Quillport plug-ins in Neobook 4.13 and above.", false},
};

class BuiltFile : public ::testing::TestWithParam<EditionFile> {
 protected:
  std::string path() const { return wltest::OutputFile(GetParam().file); }
};

std::string VersionString(const std::vector<char>& info, const char* name) {
  char* value = nullptr;
  UINT length = 0;
  const std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
  if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) return "<missing>";
  return std::string(value);
}

BOOL CALLBACK CountGroup(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

}  // namespace

TEST_P(BuiltFile, ExportsSevenDecoratedNamesWithOrdinalsOneToSeven) {
  HMODULE m = LoadLibraryExA(path().c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(m, nullptr) << GetLastError();
  auto base = reinterpret_cast<const BYTE*>(m);
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  ASSERT_NE(dir.VirtualAddress, 0u);
  auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT_STREQ(reinterpret_cast<const char*>(base + exports->Name), GetParam().libraryName);
  EXPECT_EQ(exports->Base, 1u);
  ASSERT_EQ(exports->NumberOfNames, 7u);
  ASSERT_EQ(exports->NumberOfFunctions, 7u);
  auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  auto ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const char* expected[7] = {"_nbEditAction@8", "_nbExecAction@8", "_nbInitPlugIn@16", "_nbMessage@8",
                             "_nbRegisterInterfaceAccess@4", "_nbRegisterPlugIn@16",
                             "_nbRegisterScriptProcessor@4"};
  for (DWORD i = 0; i < 7; ++i) {
    EXPECT_STREQ(reinterpret_cast<const char*>(base + names[i]), expected[i]);
    EXPECT_EQ(ordinals[i] + exports->Base, i + 1) << expected[i];
  }
  FreeLibrary(m);
}

TEST_P(BuiltFile, VersionResourceIsExact) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path().c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path().c_str(), 0, size, info.data()));
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
  const WORD* v = GetParam().version;
  EXPECT_EQ(fixed->dwFileVersionMS, static_cast<DWORD>(MAKELONG(v[1], v[0])));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(v[3], v[2])));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
  EXPECT_EQ(VersionString(info, "FileDescription"), GetParam().description);
  EXPECT_EQ(VersionString(info, "FileVersion"), GetParam().fileVersion);
  EXPECT_EQ(VersionString(info, "ProductVersion"), GetParam().productVersion);
  EXPECT_EQ(VersionString(info, "InternalName"), GetParam().internalName);
  EXPECT_EQ(VersionString(info, "OriginalFilename"), GetParam().originalFilename);
  EXPECT_EQ(VersionString(info, "Comments"), GetParam().comments);
}

TEST_P(BuiltFile, OneIconGroupNamedIcon1WithFourImages) {
  HMODULE m = LoadLibraryExA(path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(m, nullptr);
  int groups = 0;
  EnumResourceNamesA(m, RT_GROUP_ICON, CountGroup, reinterpret_cast<LONG_PTR>(&groups));
  EXPECT_EQ(groups, 1);
  HRSRC r = FindResourceA(m, "ICON1", RT_GROUP_ICON);
  ASSERT_NE(r, nullptr);
  auto group = static_cast<const WORD*>(LockResource(LoadResource(m, r)));
  ASSERT_NE(group, nullptr);
  EXPECT_EQ(group[1], 1);  // type: icon
  EXPECT_EQ(group[2], 4);  // image count
  FreeLibrary(m);
}

INSTANTIATE_TEST_SUITE_P(Editions, BuiltFile, ::testing::ValuesIn(kEditions),
                         [](const auto& info) { return std::string(info.param.libraryName).substr(0, std::string(info.param.libraryName).find('.')); });

TEST(BuiltFileImports, OnlySystemLibraries) {
  for (const EditionFile& e : kEditions) {
    HMODULE m = LoadLibraryExA(wltest::OutputFile(e.file).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(m, nullptr);
    auto base = reinterpret_cast<const BYTE*>(m);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name; ++imp) {
      std::string name = reinterpret_cast<const char*>(base + imp->Name);
      for (auto& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      // Wirebench and Wirecodes carry nothing of the comm engine: no
      // network library, no serial call, so neither is taken for a comm
      // plug-in.
      EXPECT_TRUE(name == "KERNEL32.DLL" || name == "MSVCRT.DLL" || (e.comm && name == "WSOCK32.DLL") ||
                  name == "USER32.DLL" || name == "ADVAPI32.DLL")
          << e.file << " imports " << name;
      for (auto* entry = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
           !e.comm && entry->u1.AddressOfData != 0; ++entry) {
        if (IMAGE_SNAP_BY_ORDINAL(entry->u1.Ordinal)) continue;
        const std::string function = reinterpret_cast<const char*>(
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + entry->u1.AddressOfData)->Name);
        EXPECT_EQ(function.find("Comm"), std::string::npos) << e.file << " imports " << function;
      }
    }
    FreeLibrary(m);
  }
}

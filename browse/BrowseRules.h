// The folder dialog's rules that need no window: its option set and the
// shell flags each option sets, where the dialog goes on the screen, and how a
// path is shortened for the dialog's status line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "Files.h"

// The shell's special folders that can be the root of the dialog's tree.
// bfoDesktopExpanded names none: the tree shows the whole namespace.
enum class TSystemFolders : uint8_t {
  bfoDesktop,
  bfoDesktopExpanded,
  bfoPrograms,
  bfoControlPanel,
  bfoPrinters,
  bfoPersonal,
  bfoFavorites,
  bfoStartup,
  bfoRecent,
  bfoSendTo,
  bfoRecycleBin,
  bfoStartMenu,
  bfoDesktopDirectory,
  bfoMyComputer,
  bfoNetwork,
  bfoNetworkNeighborhood,
  bfoFonts,
  bfoTemplates,
};

enum class TDlgPosition : uint8_t { bpDefault, bpCenter };
enum class TDlgPosRel : uint8_t { brActiveWindow, brScreen };

// The shell folder dialog's flags (the Windows headers' own, where included first).
#ifndef BIF_RETURNONLYFSDIRS
inline constexpr unsigned BIF_RETURNONLYFSDIRS = 0x0001;
inline constexpr unsigned BIF_DONTGOBELOWDOMAIN = 0x0002;
inline constexpr unsigned BIF_STATUSTEXT = 0x0004;
inline constexpr unsigned BIF_RETURNFSANCESTORS = 0x0008;
inline constexpr unsigned BIF_EDITBOX = 0x0010;
inline constexpr unsigned BIF_VALIDATE = 0x0020;
inline constexpr unsigned BIF_BROWSEFORCOMPUTER = 0x1000;
inline constexpr unsigned BIF_BROWSEFORPRINTER = 0x2000;
inline constexpr unsigned BIF_BROWSEINCLUDEFILES = 0x4000;
#endif

enum class TBrowseDlgOption : uint8_t {
  doBrowseForComputer,
  doBrowseForPrinter,
  doDontGoBelowDomain,
  doReturnFileSysAncestors,
  doReturnFileSysDirs,
  doStatusText,
  doShowFiles,
  doAllowEdit,
  doShowPath,
  doEnableOK,
};

// A set of TBrowseDlgOption.
class TBrowseDlgOptions {
 public:
  constexpr TBrowseDlgOptions() = default;
  constexpr TBrowseDlgOptions(std::initializer_list<TBrowseDlgOption> members) {
    for (TBrowseDlgOption m : members) bits_ |= Bit(m);
  }
  constexpr bool Contains(TBrowseDlgOption m) const { return (bits_ & Bit(m)) != 0; }
  constexpr TBrowseDlgOptions& Include(TBrowseDlgOption m) {
    bits_ |= Bit(m);
    return *this;
  }
  constexpr TBrowseDlgOptions& Exclude(TBrowseDlgOption m) {
    bits_ &= static_cast<uint16_t>(~Bit(m));
    return *this;
  }
  friend constexpr bool operator==(TBrowseDlgOptions, TBrowseDlgOptions) = default;

 private:
  static constexpr uint16_t Bit(TBrowseDlgOption m) {
    return static_cast<uint16_t>(1u << static_cast<unsigned>(m));
  }
  uint16_t bits_ = 0;
};

inline constexpr TBrowseDlgOptions kDefaultBrowseDlgOptions{TBrowseDlgOption::doReturnFileSysDirs,
                                                            TBrowseDlgOption::doShowPath};

// The union of the shell flags of the options in the set. doShowPath and
// doEnableOK set none: the dialog wrapper carries them out itself.
unsigned BrowseFlags(TBrowseDlgOptions options);

// A rectangle in screen pixels; Right and Bottom lie just outside it.
struct TDlgRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  constexpr int Width() const { return Right - Left; }
  constexpr int Height() const { return Bottom - Top; }
};

struct TDlgSize {
  int Width = 0;
  int Height = 0;
};

struct TDlgPoint {
  int Left = 0;
  int Top = 0;
  friend constexpr bool operator==(TDlgPoint, TDlgPoint) = default;
};

// Top-left corner of a dialog centred on `reference`; a dialog that would
// reach past the screen's bottom or right edge is aligned with the
// reference's bottom or right edge instead, and negative coordinates become 0.
TDlgPoint CentreDialog(const TDlgRect& reference, TDlgSize dialog, TDlgSize screen);

// How paths are written: the separator, and whether a path may begin with a
// drive ("C:") and use the colon as a separator as well.
struct TPathStyle {
  char Delim;
  bool Drives;
};
inline constexpr TPathStyle kWindowsPaths{'\\', true};
inline constexpr TPathStyle kPlatformPaths{PathDelim, DrivePartLength > 0};

// The status line's shortening of a path to at most maxLength characters:
// leading directories are replaced one at a time by "..." until it fits or
// nothing is left to cut, so the result may still be longer.
std::string ShortenStatusText(std::string_view path, size_t maxLength,
                              TPathStyle style = kPlatformPaths);

// The install steps, in their fixed order, over any implementation of the operation set.
#ifndef SOLVARINE_INSTALLER_INSTALL_SEQUENCE_H_
#define SOLVARINE_INSTALLER_INSTALL_SEQUENCE_H_

#include "install_folder.h"
#include "operation_set.h"
#include "payload.h"
#include "wide_text.h"

constexpr int kExitInstalled = 0;
constexpr int kExitIncomplete = 1;

constexpr WideChar kInstallFolder[] = u"" SOLVARINE_INSTALL_FOLDER;
constexpr WideChar kNoticeCaption[] = u"Solvarine installation";
constexpr WideChar kInstalledTextHead[] = u"Solvarine has been succesfully installed in ";
constexpr WideChar kInstalledTextTail[] = u".\nA Solvarine icon has been placed on the desktop.";
constexpr WideChar kIncompleteTextHead[] = u"The installation of Solvarine in ";
constexpr WideChar kIncompleteTextMiddle[] =
    u" is not complete.\nThese could not be created or written:\n";
constexpr WideChar kIncompleteTextTail[] =
    u"\nA running Solvarine keeps its executable locked. Close Solvarine, then run the installer "
    u"again.";
// Stands for the shortcut's path when the desktop folder could not be found.
constexpr WideChar kShortcutWithoutDesktop[] = u"Solvarine.lnk on the desktop";

using NoticeText = WideText<3072>;

// What did not get done: every folder that could be neither listed nor created, every file that
// could not be written whole.
class InstallReport {
 public:
  void Failed(const PathText& path) {
    failed_.Append(path).Append(u"\n");
    ++count_;
  }
  void Failed(const WideChar* what) { Failed(PathText(what)); }
  bool complete() const { return count_ == 0; }
  const NoticeText& failures() const { return failed_; }

 private:
  NoticeText failed_;
  int count_ = 0;
};

inline PathText JoinPath(const WideChar* folder, const WideChar* piece) {
  PathText path(folder);
  path.Append(piece);
  return path;
}
inline PathText JoinPath(const PathText& folder, const WideChar* piece) {
  PathText path;
  path.Append(folder).Append(piece);
  return path;
}

template <class Operations>
void EnsureFolder(Operations& ops, const PathText& folder, InstallReport& report) {
  if (ops.FolderIsListable(folder.c_str()) != 0) return;
  if (ops.MakeFolder(folder.c_str()) == 0) report.Failed(folder);
}

template <class Operations>
void WriteItem(Operations& ops, const PathText& path, PayloadItem item, InstallReport& report) {
  // A cut path would name some other file: write nothing rather than the wrong thing.
  if (path.truncated() || ops.WritePayloadItem(path.c_str(), item) == 0) report.Failed(path);
}

// Runs the whole install and returns the process's exit code.
template <class Operations>
int RunInstallSteps(Operations& ops, const Payload& payload) {
  InstallReport report;
  const PathText install(kInstallFolder);

  EnsureFolder(ops, install, report);                          // steps 1, 2
  EnsureFolder(ops, JoinPath(install, u"\\archive"), report);  // steps 3, 4
  ops.RemoveFile(JoinPath(install, u"\\Checklist_Cinema4D.txt").c_str());
  ops.RemoveFile(JoinPath(install, u"\\Checklist_Maya.txt").c_str());

  WriteItem(ops, JoinPath(install, u"\\Solvarine.exe"), payload.AppExecutable, report);
  WriteItem(ops, JoinPath(install, u"\\7za.exe"), payload.ArchiverExecutable, report);
  const PathText desktop = ops.SpecialFolderPath(kCsidlDesktop);
  if (desktop.empty()) {
    // "\Solvarine.lnk" alone would land in the root of the current drive.
    report.Failed(kShortcutWithoutDesktop);
  } else {
    WriteItem(ops, JoinPath(desktop, u"\\Solvarine.lnk"), payload.DesktopShortcut, report);
  }
  WriteItem(ops, JoinPath(install, u"\\Solvarine_PC.pdf"), payload.UserGuide, report);
  WriteItem(ops, JoinPath(install, u"\\Checklist_Lightwave.txt"), payload.LightwaveChecklist,
            report);
  WriteItem(ops, JoinPath(install, u"\\Checklist_Terragen.txt"), payload.TerragenChecklist, report);

  int exit_code = kExitInstalled;
  if (report.complete()) {
    NoticeText text(kInstalledTextHead);
    text.Append(install).Append(kInstalledTextTail);
    ops.ShowNotice(kNoticeCaption, text.c_str(), kStyleOk);

    // Full paths only: a bare name would be looked up in the installer's own folder first, and
    // that is often a Downloads folder holding whatever else was downloaded.
    const PathText windows = ops.SpecialFolderPath(kCsidlWindows);
    if (!windows.empty()) {
      const PathText explorer = JoinPath(windows, u"\\explorer.exe");
      if (!explorer.truncated()) ops.LaunchProgram(explorer.c_str(), install.c_str(), u"");
    }
    ops.EnterFolder(install.c_str());
    ops.LaunchProgram(JoinPath(install, u"\\Solvarine.exe").c_str(), install.c_str(), u"");
  } else {
    NoticeText text(kIncompleteTextHead);
    text.Append(install).Append(kIncompleteTextMiddle).Append(report.failures());
    text.Append(kIncompleteTextTail);
    ops.ShowNotice(kNoticeCaption, text.c_str(), kStyleOk | kStyleIconError);
    exit_code = kExitIncomplete;
  }

  ops.ReleaseListing();
  return exit_code;
}

#endif  // SOLVARINE_INSTALLER_INSTALL_SEQUENCE_H_

#pragma once
// The application object of every program: it owns the process's one message
// object and runs the start dialog as the main window.
#include <QApplication>
#include <QStringList>
#include <memory>

#include "shell/start_dlg.h"
#include "tessel/socket_message.h"

class CStartBehaviour;

class CShellApp {
 public:
  CShellApp(const CShellApp&) = delete;
  CShellApp& operator=(const CShellApp&) = delete;
  virtual ~CShellApp();

  // The application object of this process; nullptr before one exists.
  static CShellApp* Instance();

  // Sets the profile key, runs the start dialog modally until it is closed,
  // then destroys it. Returns false, so the process ends.
  bool InitInstance();

  const CProgramConstants& Constants() const { return m_constants; }

  CSocketMessage m_socketMsg;

 protected:
  explicit CShellApp(const CProgramConstants& constants);

  // The program's own behaviour behind the start dialog.
  virtual std::unique_ptr<CStartBehaviour> CreateStartBehaviour() = 0;
  // After the start dialog's modal run, before it is destroyed.
  virtual void OnStartDialogClosed() {}

 private:
  CProgramConstants m_constants;
};

// What the command line asked for: run the program, or end it at once.
enum class CommandLine { Run, ShowedHelp, Refused };

// Applies the command line (the program's name first) before the program
// starts: --profile-dir DIR keeps the profile there, --scale N enlarges the
// dialogs, and the Tessel overrides (--server, --scanner, --printer). --help
// prints the usage. A malformed command line changes nothing: what is wrong
// and the usage go to stderr.
CommandLine ApplyCommandLine(const QStringList& arguments, const QString& programName);

QStringList ArgumentsOf(int argc, char** argv);

// The whole life of a program process: the command line, Qt, the application
// object and its start dialog. The command line is read before Qt opens the
// display, so --help and a refusal need none.
template <class TApp>
int RunProgram(int argc, char** argv, const QString& programName) {
  const CommandLine commandLine = ApplyCommandLine(ArgumentsOf(argc, argv), programName);
  if (commandLine != CommandLine::Run) return commandLine == CommandLine::Refused ? 2 : 0;
  QApplication qapp(argc, argv);
  TApp app;
  app.InitInstance();
  return 0;
}

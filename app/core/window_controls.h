#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace stbup {

// OD1, the open dialog: returns the chosen path, or nothing when cancelled.
class FileDialog {
 public:
  virtual ~FileDialog() = default;
  // filter "*.bin (Binary File)|*.bin" (description|pattern), default
  // extension "*.bin"; the front end renders them as its toolkit expects.
  virtual std::optional<std::string> Execute(std::string_view initial_directory,
                                             std::string_view filter,
                                             std::string_view default_extension) = 0;
};

// What only the window itself has, beyond the View: the port selector's
// selection, the caption, the window's place, closing it, and the process's
// current directory (kept here so tests need not change it).
class WindowControls {
 public:
  virtual ~WindowControls() = default;

  // cbPort: select an index programmatically. This must not raise
  // cbPortChange (only the operator's choice does). An index outside the
  // items leaves nothing selected.
  virtual void SelectPort(int index) = 0;
  // cbPort's items, in order; SelectPort's index counts in them.
  virtual void SetPortChoices(const std::vector<std::string>& /*labels*/) {}
  virtual void SetCaption(std::string_view caption) = 0;
  virtual void SetPosition(int left, int top) = 0;

  // Closes the window; the front end runs FormClose from its close event and
  // keeps the window open when FormClose returns false. True when it closed.
  virtual bool CloseWindow() = 0;
  // Asks the application to end its message loop.
  virtual void Terminate() = 0;

  virtual std::string CurrentDirectory() const = 0;
  // Returns false when the directory cannot be entered.
  virtual bool SetCurrentDirectory(std::string_view directory) = 0;
};

}  // namespace stbup

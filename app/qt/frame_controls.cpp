#include "app/qt/frame_controls.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QStringList>

#include "app/qt/dialogs.h"
#include "app/qt/file_filter.h"
#include "app/qt/form_view.h"
#include "app/qt/main_frm.h"

namespace stbup {

namespace {

// Paths are the platform's bytes (UTF-8 here), unlike the box's texts.
QString PathFromBytes(std::string_view path) {
  return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}

std::string PathToBytes(const QString& path) { return path.toUtf8().toStdString(); }

}  // namespace

void FrameControls::SelectPort(int index) {
  // setCurrentIndex does not raise `activated`, so cbPortChange stays quiet.
  frame_.cbPort->setCurrentIndex(index >= 0 && index < frame_.cbPort->count() ? index : -1);
}

void FrameControls::SetPortChoices(const std::vector<std::string>& labels) {
  QComboBox* selector = frame_.cbPort;
  QStringList items;
  for (const std::string& label : labels) items << PathFromBytes(label);
  selector->clear();
  selector->addItems(items);
}

void FrameControls::SetCaption(std::string_view caption) {
  frame_.setWindowTitle(FormView::FromBytes(caption));
}

void FrameControls::SetPosition(int left, int top) { frame_.move(left, top); }

bool FrameControls::CloseWindow() { return frame_.close(); }

void FrameControls::Terminate() { QCoreApplication::quit(); }

std::string FrameControls::CurrentDirectory() const { return PathToBytes(QDir::currentPath()); }

bool FrameControls::SetCurrentDirectory(std::string_view directory) {
  return QDir::setCurrent(PathFromBytes(directory));
}

std::optional<std::string> FrameFileDialog::Execute(std::string_view initial_directory,
                                                    std::string_view filter,
                                                    std::string_view default_extension) {
  auto chosen = dialogs_.OpenFile(&frame_, PathFromBytes(initial_directory), QtFileFilter(filter),
                                  QtDefaultSuffix(default_extension));
  if (!chosen) return std::nullopt;
  return PathToBytes(*chosen);
}

}  // namespace stbup

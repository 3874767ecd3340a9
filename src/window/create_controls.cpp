// The fourteen controls, made, registered, given their design data in the
// order of creation, with the four handlers attached on the way.
#include "window/design_data.h"
#include "window/main_window.h"

namespace {

using design::Geometry;

// Makes a visible control, registers it and gives it its data.
template <class T>
std::shared_ptr<T> MakeControl(MainWindow& window, const std::string& name, const PropertyList& data) {
  auto control = window.New<T>();
  Use(control, name.c_str()).Constructor();
  window.AddControl(name, control);
  auto registered = Cast<T>(window.ControlByName(name));
  SetProperties(registered, data);
  return registered;
}

template <class T>
std::shared_ptr<T> Registered(MainWindow& window, const std::string& name) {
  return Cast<T>(window.ControlByName(name));
}

}  // namespace

void MainWindow::CreateControls() { CreateControls0(); }

void MainWindow::CreateControls0() {
  auto self = std::static_pointer_cast<MainWindow>(shared_from_this());

  MakeControl<::PushButton>(
      *this, "PushButton1",
      design::PushButtonData("PushButton1", Geometry{306, 11, 59, 20, 0}, "Start", true));
  Use(Registered<::PushButton>(*this, "PushButton1"), "PushButton1")
      .AddActionHandler(BindWeak(self, &MainWindow::PushButton1_Action, "( PushButton )"));

  MakeControl<TextField>(*this, "Port", design::TextFieldData("Port", Geometry{223, 10, 80, 22, 1}, "38008"));
  MakeControl<Label>(*this, "PortLabel",
                     design::LabelData("PortLabel", Geometry{194, 10, 58, 20, 2}, "Port"));
  MakeControl<TextField>(*this, "IPAddress",
                         design::TextFieldData("IPAddress", Geometry{83, 9, 106, 22, 3}, ""));
  MakeControl<Label>(*this, "IPLabel",
                     design::LabelData("IPLabel", Geometry{11, 11, 90, 20, 4}, "IP Address"));
  MakeControl<Label>(*this, "ShareDir",
                     design::LabelData("ShareDir", Geometry{83, 54, 289, 20, 5}, "/Games"));
  MakeControl<Label>(*this, "ShareLabel",
                     design::LabelData("ShareLabel", Geometry{11, 54, 60, 20, 6}, "Share Dir"));
  MakeControl<Label>(*this, "Label1",
                     design::LabelData("Label1", Geometry{11, 145, 380, 20, 7}, design::kAddressQuery));
  MakeControl<Label>(*this, "Label2", design::LabelData("Label2", Geometry{11, 32, 60, 20, 8}, "velmoor"));
  MakeControl<TextField>(*this, "velmoor",
                         design::TextFieldData("velmoor", Geometry{83, 33, 106, 22, 9}, "/Games"));
  MakeControl<Label>(*this, "Label3",
                     design::LabelData("Label3", Geometry{33, 126, 289, 20, 11},
                                       "Drag and Drop folder or velmoor here to load", 1));

  {
    auto shell = New<_wrapper_AsyncShell>();
    Use(shell, "AsyncShell").Constructor();
    AddControl("AsyncShell", shell);
    SetProperties(Registered<Shell>(*this, "AsyncShell"), design::ShellData());
    Use(Registered<Shell>(*this, "AsyncShell"), "AsyncShell")
        .AddCompletedHandler(BindWeak(self, &MainWindow::AsyncShell_Completed, "( Shell )"));
    Use(Registered<Shell>(*this, "AsyncShell"), "AsyncShell")
        .AddDataAvailableHandler(BindWeak(self, &MainWindow::AsyncShell_DataAvailable, "( Shell )"));
  }

  MakeControl<CheckBox>(*this, "CheckBox1",
                        design::CheckBoxData("CheckBox1", Geometry{306, 32, 58, 20, 12}, "Auto"));
  MakeControl<::PushButton>(
      *this, "PushButton2",
      design::PushButtonData("PushButton2", Geometry{223, 34, 80, 20, 13}, "Reset", false));
  Use(Registered<::PushButton>(*this, "PushButton2"), "PushButton2")
      .AddActionHandler(BindWeak(self, &MainWindow::PushButton2_Action, "( PushButton )"));
}

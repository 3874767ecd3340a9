#include "window/design_data.h"

#include <limits>

#include "app/main_menu_bar.h"
#include "window/main_window.h"

namespace design {
namespace {

constexpr std::int32_t kNoIndex = std::numeric_limits<std::int32_t>::min();
constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};

// Name, Index and the rectangle with its locks and tab place, which every
// visible control's list starts with.
void AppendPlacement(PropertyList& list, const std::string& name, Geometry g) {
  list.push_back(TextProp("Name", name));
  list.push_back(IntProp("Index", kNoIndex));
  list.push_back(IntProp("Left", g.left));
  list.push_back(IntProp("Top", g.top));
  list.push_back(IntProp("Width", g.width));
  list.push_back(IntProp("Height", g.height));
  list.push_back(BoolProp("LockLeft", true));
  list.push_back(BoolProp("LockTop", true));
  list.push_back(BoolProp("LockRight", false));
  list.push_back(BoolProp("LockBottom", false));
  list.push_back(IntProp("TabPanelIndex", 0));
  list.push_back(IntProp("TabIndex", g.tabIndex));
}

void AppendFont(PropertyList& list) {
  list.push_back(TextProp("TextFont", "System"));
  list.push_back(SingleProp("TextSize", 0));
  list.push_back(ByteProp("TextUnit", 0));
  list.push_back(BoolProp("Bold", false));
  list.push_back(BoolProp("Italic", false));
  list.push_back(BoolProp("Underline", false));
}

}  // namespace

PropertyList WindowData() {
  return {
      IntProp("Width", 368),
      IntProp("Height", 173),
      IntProp("MinWidth", 64),
      IntProp("MinHeight", 64),
      IntProp("MaxWidth", 32000),
      IntProp("MaxHeight", 32000),
      IntProp("Frame", 6),
      TextProp("Title", "MacOS Orvande"),
      BoolProp("CloseButton", true),
      BoolProp("Resizeable", false),
      BoolProp("MaximizeButton", false),
      BoolProp("MinimizeButton", true),
      BoolProp("FullScreenButton", false),
      BoolProp("Composite", false),
      IntProp("MacProcID", 0),
      IntProp("Placement", 0),
      BoolProp("Visible", true),
      BoolProp("LiveResize", true),
      BoolProp("FullScreen", false),
      BoolProp("MenuBarVisible", true),
      BoolProp("HasBackColor", false),
      ColorProp("BackColor", kWhite),
  };
}

PropertyList PushButtonData(const std::string& name, Geometry g, const std::string& caption, bool isDefault) {
  PropertyList list;
  AppendPlacement(list, name, g);
  list.push_back(BoolProp("TabStop", true));
  list.push_back(TextProp("Caption", caption));
  list.push_back(BoolProp("Default", isDefault));
  list.push_back(BoolProp("Cancel", false));
  list.push_back(BoolProp("Enabled", true));
  list.push_back(BoolProp("Visible", true));
  list.push_back(TextProp("HelpTag", ""));
  list.push_back(BoolProp("AutoDeactivate", true));
  list.push_back(IntProp("ButtonStyle", 0));
  AppendFont(list);
  list.push_back(TextProp("InitialParent", ""));
  return list;
}

PropertyList TextFieldData(const std::string& name, Geometry g, const std::string& text) {
  PropertyList list;
  AppendPlacement(list, name, g);
  list.push_back(BoolProp("TabStop", true));
  list.push_back(BoolProp("Border", true));
  list.push_back(BoolProp("Password", false));
  list.push_back(BoolProp("UseFocusRing", true));
  list.push_back(ColorProp("TextColor", kBlack));
  list.push_back(ColorProp("BackColor", kWhite));
  list.push_back(BoolProp("Enabled", true));
  list.push_back(TextProp("Format", ""));
  list.push_back(BoolProp("Visible", true));
  list.push_back(TextProp("HelpTag", ""));
  list.push_back(BoolProp("AutoDeactivate", true));
  AppendFont(list);
  list.push_back(TextProp("CueText", ""));
  list.push_back(TextProp("Text", text));
  list.push_back(TextProp("Mask", ""));
  list.push_back(BoolProp("ReadOnly", false));
  list.push_back(IntProp("LimitText", 0));
  list.push_back(BoolProp("AcceptTabs", false));
  list.push_back(IntProp("Alignment", 0));
  list.push_back(BoolProp("AutomaticallyCheckSpelling", false));
  list.push_back(TextProp("DataSource", ""));
  list.push_back(TextProp("DataField", ""));
  return list;
}

PropertyList LabelData(const std::string& name, Geometry g, const std::string& text, std::int32_t textAlign) {
  PropertyList list;
  AppendPlacement(list, name, g);
  list.push_back(TextProp("Text", text));
  list.push_back(IntProp("TextAlign", textAlign));
  list.push_back(ColorProp("TextColor", kBlack));
  list.push_back(BoolProp("Multiline", false));
  list.push_back(BoolProp("Enabled", true));
  list.push_back(BoolProp("Visible", true));
  list.push_back(BoolProp("Selectable", false));
  list.push_back(BoolProp("Transparent", true));
  list.push_back(TextProp("HelpTag", ""));
  list.push_back(BoolProp("AutoDeactivate", true));
  AppendFont(list);
  list.push_back(TextProp("DataSource", ""));
  list.push_back(TextProp("DataField", ""));
  list.push_back(TextProp("InitialParent", ""));
  return list;
}

PropertyList CheckBoxData(const std::string& name, Geometry g, const std::string& caption) {
  PropertyList list;
  AppendPlacement(list, name, g);
  list.push_back(BoolProp("TabStop", true));
  list.push_back(TextProp("Caption", caption));
  list.push_back(BoolProp("Enabled", true));
  list.push_back(BoolProp("Visible", true));
  list.push_back(TextProp("HelpTag", ""));
  list.push_back(BoolProp("AutoDeactivate", true));
  AppendFont(list);
  list.push_back(IntProp("State", 0));
  list.push_back(BoolProp("Value", false));
  list.push_back(TextProp("DataSource", ""));
  list.push_back(TextProp("DataField", ""));
  list.push_back(TextProp("InitialParent", ""));
  return list;
}

PropertyList ShellData() {
  return {
      IntProp("TimeOut", 0),   IntProp("Mode", 1),           TextProp("Arguments", ""),
      TextProp("Backend", ""), BoolProp("Canonical", false),
  };
}

}  // namespace design

void MainWindow::Layout() {
  SetMenuBar(MainMenuBar::ImplicitInstance());
  SetProperties(shared_from_this(), design::WindowData());
}

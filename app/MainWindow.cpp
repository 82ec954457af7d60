#include "MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyle>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "Controls.h"
#include "FieldCheck.h"
#include "FormFont.h"
#include "ScreenFit.h"
#include "GlobePicture.h"
#include "LayerDialog.h"
#include "LayerGrid.h"
#include "RadioGroup.h"
#include "ResultFile.h"
#include "ResultView.h"
#include "RunLog.h"
#include "RunSetup.h"
#include "UserLocale.h"
#include "ProgressDialog.h"
#include "PointGridForm.h"
#include "PointsDialog.h"
#include "ZoneDialog.h"
#include "ZoneTable.h"

namespace globelayers {
namespace {

// What the fields that the zone list replaces (Phi_from, Phi_to, the
// segment size) show while it decides the distances and segment sizes.
constexpr const char* kZonesFieldText = "zones";

// Texts cross between the widgets and the Qt-free code as UTF-8, the 8-bit
// form file names have here.
std::string Text(const QLineEdit* edit) { return edit->text().toStdString(); }

// Only a changed text is set, so that a field keeps its cursor and undo
// history when its value stays.
void SetText(QLineEdit* edit, const std::string& text) {
  const QString value = QString::fromStdString(text);
  if (edit->text() != value) edit->setText(value);
}

// The main window takes no input while the engine runs, and takes it again
// however the run ends.
class TDisabledWhileRunning {
 public:
  explicit TDisabledWhileRunning(TfrmMain& window) : window_(window) {
    window_.SetWindowEnabled(false);
  }
  ~TDisabledWhileRunning() { window_.SetWindowEnabled(true); }
  TDisabledWhileRunning(const TDisabledWhileRunning&) = delete;
  TDisabledWhileRunning& operator=(const TDisabledWhileRunning&) = delete;

 private:
  TfrmMain& window_;
};

// The prompts a run talks through: the window's, except that a No to the
// question that closing the window asked ("Cancel calculation?") withdraws
// the close, so that a later Cancel does not close the window too.
class TRunPrompts : public IUserPrompts {
 public:
  TRunPrompts(IUserPrompts& prompts, bool& closeAfterRun)
      : prompts_(prompts), closeAfterRun_(closeAfterRun) {}
  void ShowMessage(const std::string& text) override {
    lastMessage_ = text;
    prompts_.ShowMessage(text);
  }
  bool AskYesNo(const std::string& text) override {
    const bool yes = prompts_.AskYesNo(text);
    if (!yes) closeAfterRun_ = false;
    return yes;
  }
  // The last message shown: why a failed run failed, for its run log.
  const std::string& lastMessage() const { return lastMessage_; }
  std::optional<std::string> PickOpenFile(const std::string& title, const std::string& filter,
                                          const std::string& defaultExt) override {
    return prompts_.PickOpenFile(title, filter, defaultExt);
  }

 private:
  IUserPrompts& prompts_;
  bool& closeAfterRun_;
  std::string lastMessage_;
};

TRadioGroup* MakeRadioGroup(QWidget* parent, const char* name, const char* caption,
                            const QStringList& items, QRect geometry) {
  auto* group = new TRadioGroup(QString::fromUtf8(caption), items, parent);
  group->setObjectName(name);
  group->setGeometry(geometry);
  group->SetItemIndex(0);
  return group;
}

}  // namespace

TfrmMain::TfrmMain(IAppPrompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window), prompts_(prompts), exitWatcher_(this) {
  setObjectName("frmMain");
  setWindowTitle("Rm8_roved");
  // A fixed frame that can still be maximized: the window is never smaller
  // than its design size, unless the screen is. (Only some window systems can forbid dragging the
  // edge while allowing maximizing; elsewhere a larger size behaves like
  // maximizing.)
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  ApplyFormFont(this);
  // The page keeps the design size at least; a screen too small for it (a
  // small one, or a large scale factor) gets a smaller window whose page
  // scrolls, so that the title bar and the buttons stay reachable.
  pageArea_ = new QScrollArea(this);
  pageArea_->setObjectName("pageArea");
  pageArea_->setFrameShape(QFrame::NoFrame);
  pageArea_->setFocusPolicy(Qt::NoFocus);
  pageArea_->setWidgetResizable(true);
  page_ = new QWidget;
  page_->setObjectName("page");
  page_->setMinimumSize(kDesignClientWidth, kDesignClientHeight);
  page_->installEventFilter(this);
  pageArea_->setWidget(page_);
  const QSize design(kDesignClientWidth, kDesignClientHeight);
  const QSize fitting = ClientSizeWithin(design, AvailableScreenArea(this));
  setMinimumSize(fitting);
  BuildControls();
  SetStartValues();
  // A page that scrolls one way has room for the scroll bar across it, where
  // the screen allows, so that it need not scroll the other way too.
  QSize wanted = design;
  const int scrollBarPx = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  if (fitting.height() < design.height()) wanted.rwidth() += scrollBarPx;
  if (fitting.width() < design.width()) wanted.rheight() += scrollBarPx;
  FitOnScreen(this, wanted);
  // A control reached by the keyboard scrolls into view.
  connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
    if (now != nullptr && page_->isAncestorOf(now)) pageArea_->ensureWidgetVisible(now);
  });
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::BuildControls() {
  // Creation order inside each parent is the tab order within it.
  GB_T4 = MakeGroup(page_, "GB_T4", "Globe layers", {8, 114, 721, 441});
  btn_add = MakeButton(GB_T4, "btn_add", "&+", {696, 16, 21, 21}, "Add new globe layer");
  btn_del = MakeButton(GB_T4, "btn_del", "&-", {696, 40, 21, 21}, "Delete selected globe layer");
  sg1 = new TLayerGrid(GB_T4);
  sg1->setObjectName("sg1");
  sg1->setGeometry(9, 16, 681, 290);
  sg1->setToolTip("Elevation and Elevation grid must be meters above sea");
  rg1 = MakeRadioGroup(GB_T4, "rg1", "Correction priority for crossing grids",
                       {"Change layers && sign", "Top grid", "Bottom grid"}, {505, 312, 185, 121});
  rg1->setToolTip("For crossing grids use value of grid with priority");
  btn_update = MakeButton(GB_T4, "btn_update", "&u", {696, 64, 21, 21}, "Update selected layer");
  Label8 = MakeLabel(GB_T4, "Label8", "Number of layers", 16, 333);
  txt_number = MakeEdit(GB_T4, "txt_number", {112, 325, 105, 21});

  GroupBox1 = MakeGroup(page_, "GroupBox1", "Data", {4, 0, 609, 108});
  Label1 = MakeLabel(GroupBox1, "Label1", "Data file (lambda, phi, point, h)", 8, 16);
  dataPath = MakeEdit(GroupBox1, "dataPath", {168, 12, 345, 21});
  btn_grid = MakeButton(GroupBox1, "btn_grid", "&Grid...", {519, 12, 52, 25},
                        "Compute on a grid of points instead of the data file's points");
  btn_path = MakeButton(GroupBox1, "btn_path", "...", {576, 12, 25, 25},
                        "Open dialog for  data path");
  Label10 = MakeLabel(GroupBox1, "Label10", "Append text to output file name", 8, 40);
  TXT_Append = MakeEdit(GroupBox1, "TXT_Append", {168, 35, 169, 21});
  Label13 = MakeLabel(GroupBox1, "Label13", "Increment height [m]", 58, 68);
  txt_incr = MakeEdit(GroupBox1, "txt_incr", {168, 60, 65, 21});
  rg2 = MakeRadioGroup(GroupBox1, "rg2", "Output unit", {"mGal", "microGal"}, {352, 39, 129, 49});
  chb_sum = new QCheckBox("write only result sum", GroupBox1);
  chb_sum->setObjectName("chb_sum");
  chb_sum->setGeometry(53, 85, 127, 17);
  chb_sum->setLayoutDirection(Qt::RightToLeft);  // the text left of the box

  Image1 = new QLabel(page_);
  Image1->setObjectName("Image1");
  Image1->setPixmap(QPixmap::fromImage(MakeGlobePicture()));
  Image1->setGeometry(616, 0, 101, 101);

  GB_Options = MakeGroup(page_, "GB_Options", "T4 - Calc options", {8, 561, 721, 105});
  Label5 = MakeLabel(GB_Options, "Label5", "Phi_from [0 - 180 degree]", 8, 24);
  TXT_T3DIST = MakeEdit(GB_Options, "TXT_T3DIST", {152, 16, 137, 21},
                        "Start radius from point of calc");
  Label6 = MakeLabel(GB_Options, "Label6", "Phi_to     [0 - 180 degree]", 8, 48);
  TXT_T4DIST = MakeEdit(GB_Options, "TXT_T4DIST", {152, 40, 137, 21},
                        "End radius from point of calc");
  Label4 = MakeLabel(GB_Options, "Label4", "Earth radius [m]", 8, 72);
  TXT_R = MakeEdit(GB_Options, "TXT_R", {152, 64, 137, 21});
  Label11 = MakeLabel(GB_Options, "Label11", "Lambda_from [0 - 360 degree]", 296, 24);
  TXT_LambdaFrom = MakeEdit(GB_Options, "TXT_LambdaFrom", {448, 16, 137, 21},
                            "Start angle for segments");
  Label12 = MakeLabel(GB_Options, "Label12", "Lambda_to [0 - 360 degree]", 296, 48);
  TXT_LambdaTo = MakeEdit(GB_Options, "TXT_LambdaTo", {448, 40, 137, 21}, "End angle for segments");
  Label7 = MakeLabel(GB_Options, "Label7", "Gravity constant", 296, 72);
  TXT_gravc = MakeEdit(GB_Options, "TXT_gravc", {448, 64, 137, 21});
  Label17 = MakeLabel(GB_Options, "Label17", "Segment size [sec]", 608, 24);
  txt_segment = MakeEdit(GB_Options, "txt_segment", {608, 40, 105, 21});
  BTN_Default = MakeButton(GB_Options, "BTN_Default", "Default", {640, 67, 73, 25});
  btn_zones = MakeButton(GB_Options, "btn_zones", "Zones...", {590, 67, 46, 25},
                         "Bands of spherical distance, each with its own segment size");
  // Below the distance fields, in the group's last free row (pixels at 96 dpi).
  lbl_zones = MakeLabel(GB_Options, "lbl_zones", "", 152, 88);
  lbl_zones->setFixedWidth(430);
  lbl_zones->setToolTip("Phi_from, Phi_to and the segment size come from the zones; Zones... edits them");
  lbl_zones->hide();

  btn_Calc = MakeButton(page_, "btn_Calc", "&Calc", {577, 679, 73, 25});
  btn_Exit = MakeButton(page_, "btn_Exit", "&Exit", {656, 679, 73, 25});
  btn_results = MakeButton(page_, "btn_results", "&Results...", {498, 679, 73, 25},
                           "Show a result file as a map and a table");

  // Tab order: the window's controls by their order (Calc, Exit, "Globe
  // layers", "Data", "T4 - Calc options"), each group's by its own.
  std::vector<QWidget*> chain = {btn_Calc, btn_Exit, btn_add, btn_del, sg1};
  for (int i = 0; i < rg1->ItemCount(); ++i) chain.push_back(rg1->Button(i));
  chain.insert(chain.end(), {btn_update, txt_number, dataPath, btn_grid, btn_path, TXT_Append, txt_incr});
  for (int i = 0; i < rg2->ItemCount(); ++i) chain.push_back(rg2->Button(i));
  chain.insert(chain.end(), {chb_sum, TXT_R, TXT_T3DIST, TXT_T4DIST, TXT_gravc, BTN_Default,
                             TXT_LambdaFrom, TXT_LambdaTo, txt_segment, btn_zones});
  chain.push_back(btn_results);
  for (std::size_t i = 1; i < chain.size(); ++i) setTabOrder(chain[i - 1], chain[i]);
  // The window opens with the focus on the first control of the tab order,
  // not on the first one created ("+", which Space would press).
  chain.front()->setFocus(Qt::OtherFocusReason);

  Anchor(GB_T4, akLeft | akTop | akRight | akBottom);
  Anchor(GB_Options, akLeft | akBottom);
  Anchor(btn_Calc, akRight | akBottom);
  Anchor(btn_Exit, akRight | akBottom);
  Anchor(btn_results, akRight | akBottom);
  Anchor(btn_add, akTop | akRight);
  Anchor(btn_del, akTop | akRight);
  Anchor(btn_update, akTop | akRight);
  Anchor(sg1, akLeft | akTop | akRight | akBottom);
  Anchor(rg1, akLeft | akBottom);
  Anchor(Label8, akLeft | akBottom);
  Anchor(txt_number, akLeft | akBottom);

  connect(btn_path, &QPushButton::clicked, this, [this] { btn_pathClick(); });
  connect(btn_Exit, &QPushButton::clicked, this, [this] { btn_ExitClick(); });
  connect(btn_results, &QPushButton::clicked, this, [this] { btn_resultsClick(); });
  connect(btn_add, &QPushButton::clicked, this, [this] { btn_addClick(); });
  connect(btn_del, &QPushButton::clicked, this, [this] { btn_delClick(); });
  connect(btn_update, &QPushButton::clicked, this, [this] { btn_updateClick(); });
  connect(btn_Calc, &QPushButton::clicked, this, [this] { btn_CalcClick(); });
  connect(BTN_Default, &QPushButton::clicked, this, [this] { BTN_DefaultClick(); });
  connect(btn_zones, &QPushButton::clicked, this, [this] { btn_zonesClick(); });
  connect(btn_grid, &QPushButton::clicked, this, [this] { btn_gridClick(); });

  for (QLineEdit* field : {txt_incr, txt_number, TXT_R, TXT_T3DIST, TXT_T4DIST, TXT_gravc,
                           TXT_LambdaFrom, TXT_LambdaTo})
    exitWatcher_.Watch(field, [this](QWidget* sender) { CheckForNumber(sender); });
}

void TfrmMain::SetStartValues() {
  // The table gets the header and the entry row, no layer row yet.
  StateToWindow(TWindowState::StartValues(UserDecimalSeparator()));
}

void TfrmMain::AttachDialogs(TfrmWt4& wt4, TfrmLayer& layer) {
  frmWt4_ = &wt4;
  frmLayer_ = &layer;
}

void TfrmMain::FormCreate() { ReadCfgFile(); }

TWindowState TfrmMain::WindowToState() const {
  TWindowState state;
  state.pointFile = points_.empty() ? Text(dataPath) : pointFileText_;
  state.appendText = Text(TXT_Append);
  state.incrementMText = Text(txt_incr);
  state.gravityConstantText = Text(TXT_gravc);
  const bool zoned = !zones_.empty();
  state.innerDistanceDegText = zoned ? innerDistanceText_ : Text(TXT_T3DIST);
  state.outerDistanceDegText = zoned ? outerDistanceText_ : Text(TXT_T4DIST);
  state.earthRadiusMText = Text(TXT_R);
  state.azimuthFromDegText = Text(TXT_LambdaFrom);
  state.azimuthToDegText = Text(TXT_LambdaTo);
  state.crossingPriority = rg1->ItemIndex();
  state.outputUnit = rg2->ItemIndex();
  state.layerCountText = Text(txt_number);
  state.segmentSizeArcSecText = zoned ? segmentSizeText_ : Text(txt_segment);
  state.sumsOnly = chb_sum->isChecked();
  state.zones = zones_;
  state.points = points_;
  for (int c = 0; c < TLayerGrid::kColumns; ++c) state.columnWidthsPx[c] = sg1->ColWidth(c);
  // Rows 1 .. RowCount - 2: the header and the entry row are no layers.
  for (int r = 1; r <= sg1->RowCount() - 2; ++r) {
    TLayerCells cells;
    for (int c = 1; c <= 4; ++c) cells[c - 1] = sg1->CellText(r, c).toStdString();
    state.layerRows.push_back(std::move(cells));
  }
  return state;
}

void TfrmMain::StateToWindow(const TWindowState& state) {
  SetText(TXT_Append, state.appendText);
  SetText(TXT_gravc, state.gravityConstantText);
  SetText(TXT_R, state.earthRadiusMText);
  SetText(TXT_LambdaFrom, state.azimuthFromDegText);
  SetText(TXT_LambdaTo, state.azimuthToDegText);
  SetText(txt_incr, state.incrementMText);
  rg1->SetItemIndex(state.crossingPriority);
  rg2->SetItemIndex(state.outputUnit);
  SetText(txt_number, state.layerCountText);
  // The header row, the layer rows and the entry row, which keeps what was
  // typed into it while the number of layer rows stays.
  sg1->SetRowCount(state.LayerRowCount() + 2);
  for (int r = 1; r <= state.LayerRowCount(); ++r) {
    for (int c = 1; c <= 4; ++c) {
      const QString cell = QString::fromStdString(state.layerRows[r - 1][c - 1]);
      if (sg1->CellText(r, c) != cell) sg1->SetCellText(r, c, cell);
    }
  }
  for (int c = 0; c < TLayerGrid::kColumns; ++c) {
    if (sg1->ColWidth(c) != state.columnWidthsPx[c]) sg1->SetColWidth(c, state.columnWidthsPx[c]);
  }
  innerDistanceText_ = state.innerDistanceDegText;
  outerDistanceText_ = state.outerDistanceDegText;
  segmentSizeText_ = state.segmentSizeArcSecText;
  zones_ = state.zones;
  points_ = state.points;
  pointFileText_ = state.pointFile;
  ShowZoneFields();
  ShowPointFields();
  chb_sum->setChecked(state.sumsOnly);
}

void TfrmMain::ShowZoneFields() {
  // Enabled only when a field changes, so that a window without zones
  // keeps its fields exactly as they were.
  const bool zoned = !zones_.empty();
  const std::pair<QLineEdit*, const std::string*> fields[] = {
      {TXT_T3DIST, &innerDistanceText_}, {TXT_T4DIST, &outerDistanceText_}, {txt_segment, &segmentSizeText_}};
  for (const auto& [field, kept] : fields) {
    SetText(field, zoned ? std::string(kZonesFieldText) : *kept);
    if (field->isEnabled() == zoned) field->setEnabled(!zoned);
  }
  lbl_zones->setText(QString::fromStdString(ZoneSummaryText(zones_, UserDecimalSeparator())));
  lbl_zones->setVisible(zoned);
}

void TfrmMain::ShowPointFields() {
  const bool gridded = !points_.empty();
  SetText(dataPath, gridded ? PointGridSummaryText(points_, UserDecimalSeparator()) : pointFileText_);
  // Enabled only when the state changes, so that a window without a grid
  // keeps its field exactly as it was.
  if (dataPath->isEnabled() == gridded) dataPath->setEnabled(!gridded);
  if (btn_path->isEnabled() == gridded) btn_path->setEnabled(!gridded);
}

void TfrmMain::btn_gridClick() {
  if (pointsDialog_ == nullptr) return;
  pointsDialog_->SetPoints(points_, settings_.SaveFile().toStdString());
  if (pointsDialog_->ShowModal() != QDialog::Accepted) return;
  TWindowState state = WindowToState();
  state.points = pointsDialog_->Points();
  StateToWindow(state);
}

void TfrmMain::btn_zonesClick() {
  if (zoneDialog_ == nullptr) return;
  zoneDialog_->SetZones(zones_, settings_.SaveFile().toStdString());
  if (zoneDialog_->ShowModal() != QDialog::Accepted) return;
  TWindowState state = WindowToState();
  state.zones = zoneDialog_->Zones();
  StateToWindow(state);
}

void TfrmMain::ReadCfgFile() {
  // Keys absent from the file keep what the window holds now.
  TWindowState state = WindowToState();
  const bool read =
      globelayers::ReadCfgFile(state, settings_.ReadFile().toStdString(), UserDecimalSeparator());
  // A column dragged wider than the table would hide the others at every
  // start; the scroll bar brings them back, but only as far as the table.
  for (int& widthPx : state.columnWidthsPx) widthPx = std::min(widthPx, sg1->width());
  // What was read before a failure stays, as the message says nothing else;
  // the table may have been emptied, and its count must say so.
  if (!read) state.layerCountText = std::to_string(state.LayerRowCount());
  StateToWindow(state);
  if (!read) prompts_.ShowMessage(kReadCfgErrorText);
}

void TfrmMain::SaveCfgFile() {
  const QString path = settings_.SaveFile();
  // The configuration folder may not exist yet; beside the executable it
  // always does.
  QDir().mkpath(QFileInfo(path).absolutePath());
  if (!globelayers::SaveCfgFile(WindowToState(), path.toStdString(), UserDecimalSeparator()))
    prompts_.ShowMessage(kSaveCfgErrorText);
}

void TfrmMain::BTN_DefaultClick() {
  TWindowState state = WindowToState();
  ApplyDefaults(state, UserDecimalSeparator());
  StateToWindow(state);
}

std::optional<TFieldRule> TfrmMain::FieldRule(const QLineEdit* field) const {
  if (field == nullptr) return std::nullopt;
  if (field == txt_number) return TFieldRule::WholeNumber;
  // While the zones decide them the distance fields read "zones", which no
  // check would take.
  if (field == TXT_T3DIST || field == TXT_T4DIST)
    return zones_.empty() ? std::optional(TFieldRule::DistanceDeg) : std::nullopt;
  if (field == TXT_LambdaFrom || field == TXT_LambdaTo) return TFieldRule::AzimuthDeg;
  if (field == txt_incr || field == TXT_R || field == TXT_gravc) return TFieldRule::Number;
  return std::nullopt;
}

void TfrmMain::CheckForNumber(QWidget* sender) {
  auto* field = qobject_cast<QLineEdit*>(sender);
  const std::optional<TFieldRule> rule = FieldRule(field);
  if (!rule) return;
  const std::optional<std::string> message =
      globelayers::CheckForNumber(*rule, Text(field), UserDecimalSeparator());
  if (!message) return;
  prompts_.ShowMessage(*message);
  exitWatcher_.ReturnFocus(field);
}

void TfrmMain::FocusControl(TRunField field) {
  QWidget* control = nullptr;
  switch (field) {
    case TRunField::None: return;
    case TRunField::InnerDistance: control = TXT_T3DIST; break;
    case TRunField::AzimuthFrom: control = TXT_LambdaFrom; break;
    case TRunField::LayerTable: control = sg1; break;
  }
  if (control != nullptr) control->setFocus(Qt::OtherFocusReason);
}

void TfrmMain::btn_CalcClick() {
  const TClockTime start = LocalClockTime();
  const TWindowState state = WindowToState();
  // Every check is made and every number converted before anything runs:
  // a refused or unconvertible input leaves the window as it was.
  const TRunSetup setup = PrepareRun(state, UserDecimalSeparator());
  if (setup.fault == TRunSetupFault::Check) {
    prompts_.ShowMessage(setup.message);
    FocusControl(setup.focusField);
    return;
  }
  if (setup.fault == TRunSetupFault::Conversion) {
    // Shown as the application shows a conversion error no handler caught.
    prompts_.ShowError(ErrorDisplayText(setup.message));
    return;
  }
  if (frmWt4_ == nullptr) return;

  TDisabledWhileRunning disabled(*this);
  TRunOutcome outcome = TRunOutcome::Failed;
  std::exception_ptr escaped;
  closeAfterRun_ = false;
  TRunPrompts runPrompts(prompts_, closeAfterRun_);
  try {
    outcome = frmWt4_->RunCalculation(setup.params, runPrompts);
  } catch (...) {
    // The engine has released everything; the log is still written.
    escaped = std::current_exception();
  }
  const TClockTime end = LocalClockTime();

  // The log goes with the result file: a run that ended before it put its
  // result file in place leaves the earlier file and its log as they were.
  if (frmWt4_->engine.ResultWritten()) {
    std::string failure = runPrompts.lastMessage();
    if (escaped) {
      try {
        std::rethrow_exception(escaped);
      } catch (const std::exception& e) {
        failure = e.what();
      } catch (...) {
        failure = "Unknown exception";
      }
    }
    const TRunEnding ending = escaped || outcome == TRunOutcome::Failed ? TRunEnding::Failed(failure)
                              : outcome == TRunOutcome::Cancelled      ? TRunEnding::Cancelled(end)
                                                                       : TRunEnding::Completed();
    const TRunLogResult log = WriteRunLog(RunLogFileName(state), state, start, end, ending,
                                          frmWt4_->engine.UsedZones(), UserDecimalSeparator());
    if (!log.ok()) prompts_.ShowMessage(log.message);
  }

  if (escaped) {
    try {
      std::rethrow_exception(escaped);
    } catch (const std::exception& e) {
      prompts_.ShowError(ErrorDisplayText(e.what()));
    } catch (...) {
      prompts_.ShowError(ErrorDisplayText("Unknown exception"));
    }
    return;
  }
  // A failed run has shown the engine's own message, which stands alone.
  if (outcome == TRunOutcome::Completed) {
    prompts_.ShowMessage("Layers effect calculated");
    // The offer comes after the message, which stays as it always was.
    const std::string result = OutputFileName(ResultNameSource(state), state.appendText, "_dce.dat");
    if (prompts_.AskYesNo("Show the result file " + result + " as a map?")) ShowResultFile(result);
  }
  if (outcome == TRunOutcome::Cancelled) prompts_.ShowMessage("Calculation cancelled");
  // Closing was asked for during the run and its question answered Yes,
  // which cancelled the run: the window closes once it takes input again
  // (it does when this returns).
  const bool close = closeAfterRun_ && outcome == TRunOutcome::Cancelled;
  closeAfterRun_ = false;
  if (close) QMetaObject::invokeMethod(this, [this] { this->close(); }, Qt::QueuedConnection);
}

void TfrmMain::SetWindowEnabled(bool enabled) {
  windowEnabled_ = enabled;
  for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isWindow()) child->setEnabled(enabled);
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  if (!windowEnabled_) {
    // A run is going on: closing asks, as Cancel does, whether to cancel it
    // (after the current point); the window closes when the run has stopped
    // by that answer.
    event->ignore();
    if (frmWt4_ != nullptr) {
      closeAfterRun_ = true;
      frmWt4_->Button1Click();
    }
    return;
  }
  // A failed save is reported; the window closes all the same.
  SaveCfgFile();
  QWidget::closeEvent(event);
}

void TfrmMain::Anchor(QWidget* control, unsigned anchors) {
  anchored_.push_back({control, control->geometry(), anchors});
}

void TfrmMain::ApplyAnchors() {
  // Every anchored control sits either on the window or in "Globe layers",
  // which itself grows with the window: both see the same growth.
  const int dx = page_->width() - kDesignClientWidth;
  const int dy = page_->height() - kDesignClientHeight;
  for (const TAnchored& a : anchored_) {
    QRect r = a.design;
    if ((a.anchors & akLeft) && (a.anchors & akRight))
      r.setWidth(r.width() + dx);
    else if (a.anchors & akRight)
      r.moveLeft(r.left() + dx);
    if ((a.anchors & akTop) && (a.anchors & akBottom))
      r.setHeight(r.height() + dy);
    else if (a.anchors & akBottom)
      r.moveTop(r.top() + dy);
    a.control->setGeometry(r);
  }
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  pageArea_->setGeometry(rect());
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  // The page follows the window down to its design size; the controls
  // follow the page.
  if (watched == page_ && event->type() == QEvent::Resize) {
    ApplyAnchors();
    FormResize();
  }
  return QWidget::eventFilter(watched, event);
}

void TfrmMain::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (!shownOnce_) {
    // The stored column widths are read before the first showing.
    shownOnce_ = true;
    FormResize();
  }
}

void TfrmMain::FormResize() {
  // Columns 0, 1 and 3 keep their widths; 32 pixels go to the borders and
  // the scroll bar. Columns dragged wider than the table leave 20 pixels
  // to each grid column instead of a negative width.
  constexpr int kMinGridColumnPx = 20;
  const int w = sg1->width() - (sg1->ColWidth(0) + sg1->ColWidth(1) + sg1->ColWidth(3) + 32);
  const int h = std::max(w / 2, kMinGridColumnPx);
  sg1->SetColWidth(2, h);
  sg1->SetColWidth(4, h);
}

void TfrmMain::btn_pathClick() {
  if (auto path = prompts_.PickOpenFile("Data file", "Data file - x,y,point,h (*.dat)|*.DAT", "DAT"))
    dataPath->setText(QString::fromStdString(*path));
}

void TfrmMain::btn_ExitClick() { close(); }

void TfrmMain::btn_resultsClick() {
  // With a grid of points the data file field shows the grid, and the
  // results take the settings file's name.
  const TWindowState state = WindowToState();
  const std::string source = ResultNameSource(state);
  const std::string current = OutputFileName(source, state.appendText, "_dce.dat");
  if (!source.empty() && QFileInfo(QString::fromStdString(current)).isFile()) {
    ShowResultFile(current);
    return;
  }
  if (auto path = prompts_.PickOpenFile("Result file", "Result file (*_dce.dat)|*_dce.dat|All files (*)|*", "dat"))
    ShowResultFile(*path);
}

bool TfrmMain::ShowResultFile(const std::string& resultFile) {
  if (!resultView_) resultView_ = std::make_unique<TResultView>(prompts_, this);
  // Without a run log beside the file, the unit and the first layer's top
  // grid are taken from the window.
  const std::string firstGrid = sg1->RowCount() > 2 ? sg1->CellText(1, 2).toStdString() : "";
  if (!resultView_->OpenFile(resultFile, rg2->ItemIndex() == 1, firstGrid)) return false;
  resultView_->show();
  resultView_->raise();
  resultView_->activateWindow();
  return true;
}

void TfrmMain::btn_addClick() {
  if (frmLayer_ == nullptr) return;
  TfrmLayer& dlg = *frmLayer_;
  dlg.txt_height->setText("");
  dlg.txt_gridHeight->setText("");
  dlg.txt_density->setText("");
  dlg.txt_gridDensity->setText("");
  dlg.firstLayer = sg1->RowCount() <= 2;
  if (dlg.ShowModal() != QDialog::Accepted) return;
  // The entry row becomes the new layer row; a fresh entry row follows.
  const int r = sg1->RowCount() - 1;
  sg1->SetCellText(r, 1, dlg.txt_height->text());
  sg1->SetCellText(r, 2, dlg.txt_gridHeight->text());
  sg1->SetCellText(r, 3, dlg.txt_density->text());
  sg1->SetCellText(r, 4, dlg.txt_gridDensity->text());
  sg1->SetRowCount(sg1->RowCount() + 1);
  txt_number->setText(QString::number(sg1->RowCount() - 2));
}

void TfrmMain::btn_updateClick() {
  if (frmLayer_ == nullptr) return;
  const int r = sg1->CurrentRow();
  if (r < 1) return;  // no current row
  // The entry row is no layer: updating it adds a layer, so the table keeps
  // ending in one empty entry row.
  if (r == sg1->RowCount() - 1) {
    btn_addClick();
    return;
  }
  TfrmLayer& dlg = *frmLayer_;
  dlg.firstLayer = r <= 1;
  dlg.txt_height->setText(sg1->CellText(r, 1));
  dlg.txt_gridHeight->setText(sg1->CellText(r, 2));
  // The first layer row carries no density: it is shown and returned empty.
  dlg.txt_density->setText(dlg.firstLayer ? QString() : sg1->CellText(r, 3));
  dlg.txt_gridDensity->setText(dlg.firstLayer ? QString() : sg1->CellText(r, 4));
  if (dlg.ShowModal() != QDialog::Accepted) return;
  sg1->SetCellText(r, 1, dlg.txt_height->text());
  sg1->SetCellText(r, 2, dlg.txt_gridHeight->text());
  sg1->SetCellText(r, 3, dlg.txt_density->text());
  sg1->SetCellText(r, 4, dlg.txt_gridDensity->text());
}

void TfrmMain::btn_delClick() {
  const int r = sg1->CurrentRow();
  if (r < 1) return;  // no current row
  const int rows = sg1->RowCount();
  if (rows == 2) {
    // No layer row: only what was typed into the entry row goes.
    for (int c = 1; c < TLayerGrid::kColumns; ++c) sg1->SetCellText(1, c, "");
    return;
  }
  if (r == rows - 1) return;  // the entry row is no layer
  for (int i = r; i <= rows - 2; ++i)
    for (int c = 1; c < TLayerGrid::kColumns; ++c) sg1->SetCellText(i, c, sg1->CellText(i + 1, c));
  sg1->SetRowCount(rows - 1);
  txt_number->setText(QString::number(sg1->RowCount() - 2));
}

}  // namespace globelayers

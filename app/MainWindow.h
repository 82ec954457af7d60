// The main window: the data of a run, the layer table and the calculation
// options. Its handlers carry the application's logic; the two dialogs are
// created after it and attached with AttachDialogs.
#pragma once

#include <QRect>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppPrompts.h"
#include "ExitWatcher.h"
#include "FieldCheck.h"
#include "RunSetup.h"
#include "SettingsLocation.h"
#include "WindowState.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

namespace globelayers {

class TfrmLayer;
class TfrmWt4;
class TZoneDialog;
class TPointsDialog;
class TLayerGrid;
class TRadioGroup;
class TResultView;

class TfrmMain : public QWidget {
 public:
  static constexpr int kDesignClientWidth = 737;   // pixels at 96 dpi
  static constexpr int kDesignClientHeight = 712;  // pixels at 96 dpi

  // Builds every control and puts the start values into the fields.
  // `prompts` must outlive the window.
  explicit TfrmMain(IAppPrompts& prompts, QWidget* parent = nullptr);
  ~TfrmMain() override;

  // The progress dialog (which carries the engine) and the layer dialog,
  // created after this window; both must outlive its use of them.
  void AttachDialogs(TfrmWt4& wt4, TfrmLayer& layer);
  // The zone dialog, created after the others; it must outlive the window's
  // use of it. Without it "Zones..." does nothing.
  void AttachZoneDialog(TZoneDialog& zones) { zoneDialog_ = &zones; }
  // The grid-of-points dialog, likewise; without it "Grid..." does nothing.
  void AttachPointsDialog(TPointsDialog& points) { pointsDialog_ = &points; }

  // The creation event: runs once after the constructor, before the window
  // is first shown. Reads the settings file.
  void FormCreate();

  // Where the settings file is read and written; the application's own
  // locations unless set (before FormCreate) to others.
  void SetSettingsLocation(TSettingsLocation location) { settings_ = std::move(location); }
  const TSettingsLocation& SettingsLocation() const { return settings_; }

  // The settings file: read at creation, written on close. A failure is
  // reported and the window goes on with what it has.
  void ReadCfgFile();
  void SaveCfgFile();
  void BTN_DefaultClick();

  // Checks, runs the engine on the window's values and writes the run log.
  void btn_CalcClick();

  // The exit check of the eight numeric fields; other senders are ignored.
  void CheckForNumber(QWidget* sender);

  // The window's values as texts, and back: everything the settings file,
  // the run set-up and the run log need.
  TWindowState WindowToState() const;
  void StateToWindow(const TWindowState& state);

  // Columns 2 and 4 of the layer table share the width left by the others.
  void FormResize();

  void btn_pathClick();
  void btn_ExitClick();

  // The result view: "Results..." shows the result file of the window's
  // settings when it exists, and otherwise asks for one; after a completed
  // Calc the final message is followed by the offer to show it.
  void btn_resultsClick();
  // Reads `resultFile` into the result view (created on first use) and
  // shows it; false after a message when the file cannot be read.
  bool ShowResultFile(const std::string& resultFile);
  TResultView* ResultView() const { return resultView_.get(); }

  // The layer table, edited through the layer dialog.
  void btn_addClick();
  void btn_delClick();
  void btn_updateClick();

  // The zone list, edited through the zone dialog. While it holds zones
  // (a list or a preset) they decide the run's distances and segment sizes:
  // the fields Phi_from, Phi_to and the segment size read "zones" and take
  // no input, and lbl_zones beside them sums the zones up ("3 zones, 0-180
  // deg, ..." or "preset fine"). The texts typed before are kept, go to
  // the settings file, and come back when the list is emptied.
  void btn_zonesClick();
  const TZoneListText& Zones() const { return zones_; }

  // The grid of points, edited through the grid-of-points dialog. While
  // the [points] section holds keys its nodes are the run's points: the
  // data file field shows the grid summed up ("grid 361 x 181 nodes, ...")
  // and takes no input, nor does its "..." button. The point file typed
  // before is kept, goes to the settings file, and comes back when the
  // grid is removed ("No grid").
  void btn_gridClick();
  const TPointGridText& PointGrid() const { return points_; }

  // Disables or enables the window as a whole while a calculation runs.
  // QWidget::setEnabled(false) would disable the two dialogs too (they are
  // child windows of this one), so the progress dialog's Cancel could not
  // be pressed: only the controls are disabled. Closing the window then
  // asks, as Cancel does, whether to cancel the run, and closes the window
  // once the run has stopped by that answer.
  void SetWindowEnabled(bool enabled);
  bool WindowEnabled() const { return windowEnabled_; }

  IAppPrompts& Prompts() const { return prompts_; }

  // Controls, named as their object names. Owned by the window.
  QGroupBox* GroupBox1 = nullptr;
  QLabel* Label1 = nullptr;
  QLineEdit* dataPath = nullptr;
  QPushButton* btn_path = nullptr;
  QPushButton* btn_grid = nullptr;
  QLabel* Label10 = nullptr;
  QLineEdit* TXT_Append = nullptr;
  QLabel* Label13 = nullptr;
  QLineEdit* txt_incr = nullptr;
  TRadioGroup* rg2 = nullptr;
  QCheckBox* chb_sum = nullptr;

  QLabel* Image1 = nullptr;

  QGroupBox* GB_T4 = nullptr;
  QPushButton* btn_add = nullptr;
  QPushButton* btn_del = nullptr;
  TLayerGrid* sg1 = nullptr;
  TRadioGroup* rg1 = nullptr;
  QPushButton* btn_update = nullptr;
  QLabel* Label8 = nullptr;
  QLineEdit* txt_number = nullptr;

  QGroupBox* GB_Options = nullptr;
  QLabel* Label5 = nullptr;
  QLineEdit* TXT_T3DIST = nullptr;
  QLabel* Label6 = nullptr;
  QLineEdit* TXT_T4DIST = nullptr;
  QLabel* Label4 = nullptr;
  QLineEdit* TXT_R = nullptr;
  QLabel* Label11 = nullptr;
  QLineEdit* TXT_LambdaFrom = nullptr;
  QLabel* Label12 = nullptr;
  QLineEdit* TXT_LambdaTo = nullptr;
  QLabel* Label7 = nullptr;
  QLineEdit* TXT_gravc = nullptr;
  QLabel* Label17 = nullptr;
  QLineEdit* txt_segment = nullptr;
  QPushButton* BTN_Default = nullptr;
  QPushButton* btn_zones = nullptr;
  QLabel* lbl_zones = nullptr;

  QPushButton* btn_Calc = nullptr;
  QPushButton* btn_Exit = nullptr;
  QPushButton* btn_results = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

  IAppPrompts& prompts_;
  TfrmWt4* frmWt4_ = nullptr;
  TfrmLayer* frmLayer_ = nullptr;
  TZoneDialog* zoneDialog_ = nullptr;
  TPointsDialog* pointsDialog_ = nullptr;
  std::unique_ptr<TResultView> resultView_;
  // "On leaving" events for the numeric fields.
  TExitWatcher exitWatcher_;

 private:
  // Which edges of its parent a control keeps its distance to.
  enum TAnchor : unsigned { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
  struct TAnchored {
    QWidget* control;
    QRect design;  // at the design client size
    unsigned anchors;
  };
  void Anchor(QWidget* control, unsigned anchors);
  void ApplyAnchors();
  void BuildControls();
  void SetStartValues();

  // The check rule of one of the eight numeric fields; none for any other
  // control.
  std::optional<TFieldRule> FieldRule(const QLineEdit* field) const;

  // The fields the zone list replaces as it wants them: the kept texts,
  // or "zones" and disabled with the summary beside them.
  void ShowZoneFields();
  // The data file field as the grid of points wants it: the kept point
  // file, or the grid's summary, disabled with its "..." button.
  void ShowPointFields();

  // Moves the focus to the control that shows what a refused Calc wants
  // mended.
  void FocusControl(TRunField field);

  std::vector<TAnchored> anchored_;
  // The controls sit on a page that fills the window, or scrolls in it
  // where the screen is smaller than the design size.
  QScrollArea* pageArea_ = nullptr;
  QWidget* page_ = nullptr;
  TSettingsLocation settings_ = TSettingsLocation::ForApplication();
  bool shownOnce_ = false;
  bool windowEnabled_ = true;
  // The window was asked to close while a run was going on.
  bool closeAfterRun_ = false;
  // The zone keys as read from the settings file or accepted by the zone
  // dialog; written back as they stand.
  TZoneListText zones_;
  // The grid of points of the settings file, carried from the file to the file.
  TPointGridText points_;
  // The point file's text, kept while the data file field shows the grid.
  std::string pointFileText_;
  // The texts of the fields the zones replace, kept while they show
  // "zones": degrees, degrees, arc-seconds.
  std::string innerDistanceText_;
  std::string outerDistanceText_;
  std::string segmentSizeText_;
};

}  // namespace globelayers

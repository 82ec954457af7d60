// Renders the three windows into PNG files for the documentation:
//   globelayers_screenshots <folder>
// writes main-window.png, main-window-zones.png, layer-dialog.png,
// progress-dialog.png, zone-dialog.png, result-view.png,
// result-view-grid.png and result-view-everest.png. The windows are the real ones,
// filled with a small example layer stack; the layer dialog's grid picture
// and the result view show the example run of examples/.
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include "Application.h"
#include "LayerDialog.h"
#include "LayerGrid.h"
#include "QtPrompts.h"
#include "ProgressDialog.h"
#include "MainWindow.h"
#include "ResultView.h"
#include "ZoneDialog.h"

using namespace globelayers;

namespace {

bool Save(QWidget& window, const QDir& folder, const char* name) {
  window.show();
  QTest::qWait(300);  // let the window system map and paint it
  const QString path = folder.filePath(name);
  const bool ok = window.grab().save(path, "PNG");
  std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
  window.hide();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: globelayers_screenshots <folder>\n");
    return 2;
  }
  const QDir folder(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath());
  TQtPrompts prompts;
  TfrmMain frmMain(prompts);
  TfrmWt4 frmWt4(&frmMain);
  TfrmLayer frmLayer(prompts, &frmMain);
  frmMain.AttachDialogs(frmWt4, frmLayer);
  // The pictures show the start values, not whatever settings lie around.
  QTemporaryDir settingsFolder;
  frmMain.SetSettingsLocation({settingsFolder.filePath("screenshots.ini"), QString()});
  frmMain.FormCreate();

  // An example stack: the topography, a sediment base and a flat bottom.
  const char* rows[][4] = {
      {"", "/data/grids/topography.grd", "", ""},
      {"", "/data/grids/sediment_base.grd", "2.67", ""},
      {"-30000", "", "", "/data/grids/crust_density.grd"},
  };
  frmMain.sg1->SetRowCount(2 + 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) frmMain.sg1->SetCellText(r + 1, c + 1, rows[r][c]);
  frmMain.txt_number->setText("3");
  frmMain.dataPath->setText("/data/points/stations.dat");
  frmMain.TXT_Append->setText("_run1");
  bool ok = Save(frmMain, folder, "main-window.png");

  // With zones, which take the place of the distance and segment size
  // fields; a page that scrolls shows them.
  TWindowState zoned = frmMain.WindowToState();
  zoned.zones = {"screenshots.ini",
                 {{"zone1", "0;0.1;5.625"}, {"zone2", "0.1;1;56.25"}, {"zone3", "1;10;225"}, {"zone4", "10;180;3600;mean"}}};
  frmMain.StateToWindow(zoned);
  frmMain.show();
  frmMain.btn_zones->setFocus(Qt::OtherFocusReason);
  ok = Save(frmMain, folder, "main-window-zones.png") && ok;
  zoned.zones = {};
  frmMain.StateToWindow(zoned);

  // The example files named as a user in that folder would name them.
  QDir::setCurrent(GLOBELAYERS_EXAMPLES_DIR);
  frmLayer.firstLayer = false;
  frmLayer.txt_height->setText("");
  frmLayer.txt_gridHeight->setText("topography.grd");
  frmLayer.txt_density->setText("2.67");
  frmLayer.txt_gridDensity->setText("");
  ok = Save(frmLayer, folder, "layer-dialog.png") && ok;

  frmWt4.SetCaption("T4");
  frmWt4.SetMaximum(120);
  frmWt4.SetPosition(45);
  ok = Save(frmWt4, folder, "progress-dialog.png") && ok;

  TZoneDialog zoneDialog(prompts, &frmMain);
  zoneDialog.SetRows({{"0", "0.1", "5.625"}, {"0.1", "1", "56.25"}, {"1", "10", "225"}, {"10", "180", "3600", true}});
  ok = Save(zoneDialog, folder, "zone-dialog.png") && ok;

  // The example run's stored result over its topography, one station picked.
  TResultView resultView(prompts);
  ok = resultView.OpenFile("expected/stations_example_dce.dat", false, "topography.grd") && ok;
  resultView.WaitForRelief();
  resultView.resize(1100, 640);
  resultView.SelectStation(6);
  ok = Save(resultView, folder, "result-view.png") && ok;

  // A grid run: global.ini with a 10-degree step (step 10 in its grid=
  // key; the 1-degree run takes minutes), its stored result as an image of
  // cells, the coast of the topography over it, one node picked.
  TResultView gridView(prompts);
  ok = gridView.OpenFile("expected/global10_10km_dce.dat", false, "topography.grd") && ok;
  gridView.WaitForRelief();
  gridView.resize(1100, 640);
  gridView.SelectStation(13 * 37 + 20);  // 20 E, 40 N: row 13 from the south, column 20 from 180 W
  ok = Save(gridView, folder, "result-view-grid.png") && ok;

  // The real example: the Khumbu stations over the SRTM tile of Everest.
  TResultView everestView(prompts);
  ok = everestView.OpenFile("everest/expected/khumbu_everest_dce.dat", false,
                            "everest/srtm3_N27E086_everest.tif") &&
       ok;
  everestView.WaitForRelief();
  everestView.resize(1100, 640);
  everestView.SelectStation(11);
  ok = Save(everestView, folder, "result-view-everest.png") && ok;
  return ok ? 0 : 1;
}

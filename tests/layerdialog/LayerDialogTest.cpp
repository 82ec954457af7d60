// The layer dialog driven like a user: typing, leaving fields with Tab,
// clicking its buttons, and one real modal run.
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QTemporaryDir>

#include "ColourMap.h"
#include "GridFixtures.h"
#include "GridPreview.h"
#include "LayerDialog.h"
#include "RecordingPrompts.h"
#include "RunSetup.h"

using globelayers::TfrmLayer;
using Recorder = globelayers::test::TRecordingPrompts<>;

namespace {

QStringList ToQt(const std::vector<std::string>& texts) {
  QStringList list;
  for (const auto& t : texts) list << QString::fromStdString(t);
  return list;
}

}  // namespace

class LayerDialogTest : public QObject {
  Q_OBJECT

 private:
  Recorder prompts_;
  std::unique_ptr<TfrmLayer> dlg_;

  // Shows the dialog non-modally and waits until it has the focus.
  bool ShowActive(bool firstLayer) {
    dlg_->firstLayer = firstLayer;
    dlg_->show();
    dlg_->activateWindow();
    return QTest::qWaitForWindowActive(dlg_.get());
  }

  QLineEdit* Edit(const QString& name) const { return dlg_->findChild<QLineEdit*>(name); }

  // Puts the focus into `field`, gives it `text` and leaves it with Tab.
  void TypeAndLeave(QLineEdit* field, const QString& text) {
    field->setFocus(Qt::MouseFocusReason);
    field->setText(text);
    QTest::keyClick(field, Qt::Key_Tab);
  }

 private slots:
  void init() {
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    prompts_ = Recorder{};
    dlg_ = std::make_unique<TfrmLayer>(prompts_);
  }
  void cleanup() { dlg_.reset(); }

  void layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");  // width -1: a label sized to its caption
    QTest::addColumn<QString>("caption");
    QTest::newRow("Label1") << "Label1" << QRect(8, 16, -1, 0) << "Constant height [m]";
    QTest::newRow("txt_height") << "txt_height" << QRect(136, 8, 89, 21) << "";
    QTest::newRow("Label2") << "Label2" << QRect(152, 32, -1, 0) << "Or";
    QTest::newRow("Label3") << "Label3" << QRect(8, 40, -1, 0) << "Grid name for elevation";
    QTest::newRow("txt_gridHeight") << "txt_gridHeight" << QRect(8, 56, 217, 21) << "";
    QTest::newRow("btn_elevation") << "btn_elevation" << QRect(232, 56, 21, 21) << "...";
    QTest::newRow("Label4") << "Label4" << QRect(8, 88, -1, 0) << "Constant density [g.cm-3]";
    QTest::newRow("txt_density") << "txt_density" << QRect(136, 88, 89, 21) << "";
    QTest::newRow("Label5") << "Label5" << QRect(159, 115, -1, 0) << "Or";
    QTest::newRow("Label6") << "Label6" << QRect(8, 133, -1, 0) << "Grid name for density";
    QTest::newRow("txt_gridDensity") << "txt_gridDensity" << QRect(8, 152, 217, 21) << "";
    QTest::newRow("btn_density") << "btn_density" << QRect(231, 152, 21, 21) << "...";
    QTest::newRow("btn_save") << "btn_save" << QRect(64, 187, 89, 25) << "&Save";
    QTest::newRow("btn_cancel") << "btn_cancel" << QRect(159, 187, 89, 25) << "&Cancel";
  }
  void layout() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QCOMPARE(dlg_->windowTitle(), QString("Elevation layer"));
    // The grid pictures to the right of x = 262, the lists of grids below y = 218.
    QCOMPARE(dlg_->size(), QSize(550, 318));
    auto* w = dlg_->findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->pos(), geometry.topLeft());
    if (geometry.width() >= 0) QCOMPARE(w->size(), geometry.size());
    if (auto* label = qobject_cast<QLabel*>(w)) QCOMPARE(label->text(), caption);
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      QCOMPARE(button->text(), caption);
      QVERIFY(!button->isDefault());
      QVERIFY(!button->autoDefault());
    }
  }

  void tabOrder() {
    const QStringList expected = {"txt_height",  "txt_gridHeight", "btn_elevation",
                                  "txt_density", "txt_gridDensity", "btn_density",
                                  "btn_save",    "btn_cancel"};
    QWidget* w = Edit("txt_height");
    for (const QString& name : expected) {
      QCOMPARE(w->objectName(), name);
      do w = w->nextInFocusChain();
      while (!(w->focusPolicy() & Qt::TabFocus));
    }
  }

  // Leaving a constant field: the locale's separator, the message, the
  // focus going back, and the grid name of the pair.
  void leavingConstant_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");  // "" when none
    QTest::addColumn<bool>("gridCleared");
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    QTest::newRow("point locale, 12.5") << en << "txt_height" << "12.5" << "" << true;
    QTest::newRow("point locale, 12,5") << en << "txt_height" << "12,5" << "12,5 Is not a number" << false;
    QTest::newRow("comma locale, 12,5") << de << "txt_height" << "12,5" << "" << true;
    QTest::newRow("comma locale, 12.5") << de << "txt_height" << "12.5" << "12.5 Is not a number" << false;
    QTest::newRow("empty is left to Save") << en << "txt_height" << "" << "" << false;
    QTest::newRow("exponent") << en << "txt_height" << "-1e3" << "" << true;
    QTest::newRow("negative density") << en << "txt_density" << "-0.5" << "" << true;
    QTest::newRow("zero density") << de << "txt_density" << "0" << "" << true;
    QTest::newRow("letters in density") << en << "txt_density" << "abc" << "abc Is not a number" << false;
    QTest::newRow("two separators") << en << "txt_density" << "2.6.7" << "2.6.7 Is not a number" << false;
  }
  void leavingConstant() {
    QFETCH(QLocale, locale);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QFETCH(bool, gridCleared);
    QLocale::setDefault(locale);
    QLineEdit* constant = Edit(field);
    QLineEdit* grid = field == "txt_height" ? Edit("txt_gridHeight") : Edit("txt_gridDensity");
    grid->setText("old.grd");
    QVERIFY(ShowActive(false));

    TypeAndLeave(constant, text);

    QCOMPARE(ToQt(prompts_.messages), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(constant->text(), text);  // never reformatted
    QCOMPARE(grid->text(), gridCleared ? QString() : QString("old.grd"));
    // A refused text takes the focus back; otherwise Tab moved it on.
    QCOMPARE(QApplication::focusWidget(), message.isEmpty() ? static_cast<QWidget*>(grid) : constant);
  }

  // The control the focus was moving to when a constant was refused never
  // had the focus: its own exit handler must not clear the constant.
  void refusedConstantKeepsBothEntries() {
    QVERIFY(ShowActive(false));
    Edit("txt_gridHeight")->setText("x.grd");
    TypeAndLeave(Edit("txt_height"), "abc");
    QCOMPARE(ToQt(prompts_.messages), QStringList{"abc Is not a number"});
    QCOMPARE(Edit("txt_height")->text(), QString("abc"));
    QCOMPARE(Edit("txt_gridHeight")->text(), QString("x.grd"));
    QCOMPARE(QApplication::focusWidget(), Edit("txt_height"));
  }

  // Clicking Save out of a refused constant: the message, the focus back,
  // and no click, so the refused text never reaches the table.
  void saveClickedOutOfARefusedConstant() {
    QVERIFY(ShowActive(true));
    QLineEdit* height = Edit("txt_height");
    height->setFocus(Qt::MouseFocusReason);
    height->setText("12,5");
    dlg_->setResult(QDialog::Rejected);
    QTest::mouseClick(dlg_->btn_save, Qt::LeftButton);
    QCOMPARE(ToQt(prompts_.messages), QStringList{"12,5 Is not a number"});
    QVERIFY(dlg_->isVisible());
    QCOMPARE(dlg_->result(), int(QDialog::Rejected));
    QCOMPARE(QApplication::focusWidget(), height);
    // Once the field is put right, the next click saves.
    height->setText("12.5");
    QTest::qWait(1);  // the dropped press is only the one that moved the focus
    QTest::mouseClick(dlg_->btn_save, Qt::LeftButton);
    QCOMPARE(dlg_->result(), int(QDialog::Accepted));
    QCOMPARE(prompts_.messages.size(), std::size_t(1));
  }

  void leavingGridName_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("constantAfter");
    QTest::newRow("elevation name typed by hand") << "txt_gridHeight" << "no/such/file.grd" << "";
    QTest::newRow("empty elevation name") << "txt_gridHeight" << "" << "100";
    QTest::newRow("density name") << "txt_gridDensity" << "rho.grd" << "";
    QTest::newRow("empty density name") << "txt_gridDensity" << "" << "100";
  }
  void leavingGridName() {
    QFETCH(QString, field);
    QFETCH(QString, name);
    QFETCH(QString, constantAfter);
    QLineEdit* constant = field == "txt_gridHeight" ? Edit("txt_height") : Edit("txt_density");
    constant->setText("100");
    QVERIFY(ShowActive(false));
    TypeAndLeave(Edit(field), name);
    QCOMPARE(constant->text(), constantAfter);
    QCOMPARE(Edit(field)->text(), name);
    QVERIFY(prompts_.messages.empty());
  }

  void activation_data() {
    QTest::addColumn<bool>("firstLayer");
    QTest::newRow("first layer row") << true;
    QTest::newRow("later layer row") << false;
  }
  void activation() {
    QFETCH(bool, firstLayer);
    Edit("txt_gridDensity")->setFocus();
    QVERIFY(ShowActive(firstLayer));
    QCOMPARE(QApplication::focusWidget(), Edit("txt_height"));
    for (const char* name : {"txt_density", "txt_gridDensity", "btn_density", "Label4", "Label5", "Label6",
                             "lbl_gridDensity", "lst_gridDensity", "btn_gridDensityAdd", "btn_gridDensityRemove",
                             "btn_gridDensityUp", "btn_gridDensityDown"})
      QCOMPARE(dlg_->findChild<QWidget*>(name)->isVisible(), !firstLayer);
    for (const char* name : {"txt_height", "txt_gridHeight", "btn_elevation", "Label1", "lst_gridHeight",
                             "btn_gridHeightAdd"})
      QVERIFY(dlg_->findChild<QWidget*>(name)->isVisible());
    // The grid pictures to the right of x = 262, the lists of grids below y = 218.
    QCOMPARE(dlg_->size(), QSize(550, 318));
  }

  void save_data() {
    QTest::addColumn<bool>("firstLayer");
    QTest::addColumn<QStringList>("fields");  // height, grid height, density, grid density
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("accepted");
    const QString noHeight = "One of const height or grid height must be defined";
    const QString noDensity = "One of const density or grid density must be defined";
    QTest::newRow("nothing entered: the height message only")
        << false << QStringList{"", "", "", ""} << QStringList{noHeight} << false;
    QTest::newRow("first row, elevation alone") << true << QStringList{"0", "", "", ""} << QStringList{} << true;
    QTest::newRow("first row, grid alone") << true << QStringList{"", "t.grd", "", ""} << QStringList{} << true;
    QTest::newRow("first row, density only")
        << true << QStringList{"", "", "2.67", ""} << QStringList{noHeight} << false;
    QTest::newRow("later row without density")
        << false << QStringList{"0", "", "", ""} << QStringList{noDensity} << false;
    QTest::newRow("later row, density constant")
        << false << QStringList{"-1000", "", "2.67", ""} << QStringList{} << true;
    QTest::newRow("later row, both grids")
        << false << QStringList{"", "t.grd", "", "d.grd"} << QStringList{} << true;
  }
  void save() {
    QFETCH(bool, firstLayer);
    QFETCH(QStringList, fields);
    QFETCH(QStringList, messages);
    QFETCH(bool, accepted);
    const char* names[] = {"txt_height", "txt_gridHeight", "txt_density", "txt_gridDensity"};
    for (int i = 0; i < 4; ++i) Edit(names[i])->setText(fields[i]);
    QVERIFY(ShowActive(firstLayer));
    dlg_->setResult(QDialog::Rejected);

    QTest::mouseClick(dlg_->btn_save, Qt::LeftButton);

    QCOMPARE(ToQt(prompts_.messages), messages);
    QCOMPARE(dlg_->result() == QDialog::Accepted, accepted);
    QCOMPARE(dlg_->isVisible(), !accepted);
    for (int i = 0; i < 4; ++i) QCOMPARE(Edit(names[i])->text(), fields[i]);
  }

  void pickers_data() {
    // The specified filter, then every grid that loads.
    const QString kAllGrids =
        "|All grids (*.grd *.tif *.tiff *.nc *.asc *.img *.vrt)|*.grd *.tif *.tiff *.nc *.asc *.img *.vrt";
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("defaultExt");
    QTest::addColumn<QString>("gridField");
    QTest::addColumn<QString>("constantField");
    QTest::newRow("elevation") << "btn_elevation" << "Open Globe Elevation Grid"
                               << "Elevation Grid (*.grd)|*.GRD" + kAllGrids << "GRD" << "txt_gridHeight" << "txt_height";
    QTest::newRow("density") << "btn_density" << "Open Globe Density Grid"
                             << "Density Grid (*.grd)|*.grd" + kAllGrids << "grd" << "txt_gridDensity" << "txt_density";
  }
  void pickers() {
    QFETCH(QString, button);
    QFETCH(QString, title);
    QFETCH(QString, filter);
    QFETCH(QString, defaultExt);
    QFETCH(QString, gridField);
    QFETCH(QString, constantField);
    QVERIFY(ShowActive(false));
    Edit(constantField)->setText("5");
    Edit(gridField)->setText("");
    auto* pick = dlg_->findChild<QPushButton*>(button);

    prompts_.fileReplies = {std::nullopt};  // cancelled: nothing changes
    QTest::mouseClick(pick, Qt::LeftButton);
    QCOMPARE(Edit(constantField)->text(), QString("5"));
    QCOMPARE(Edit(gridField)->text(), QString());

    prompts_.fileReplies = {std::string("/grids/crust model.grd")};
    QTest::mouseClick(pick, Qt::LeftButton);
    QCOMPARE(Edit(gridField)->text(), QString("/grids/crust model.grd"));
    QCOMPARE(Edit(constantField)->text(), QString());

    QCOMPARE(prompts_.picks.size(), std::size_t(2));
    for (const auto& p : prompts_.picks) {
      QCOMPARE(QString::fromStdString(p.title), title);
      QCOMPARE(QString::fromStdString(p.filter), filter);
      QCOMPARE(QString::fromStdString(p.defaultExt), defaultExt);
    }
  }

  // The real modal run: Enter and Escape press nothing, Cancel and the
  // window's close give Cancel, Save gives OK.
  void modalRun_data() {
    QTest::addColumn<QString>("ending");
    QTest::addColumn<int>("result");
    QTest::newRow("Cancel button") << "cancel" << int(QDialog::Rejected);
    QTest::newRow("window closed") << "close" << int(QDialog::Rejected);
    QTest::newRow("Save") << "save" << int(QDialog::Accepted);
  }
  void modalRun() {
    QFETCH(QString, ending);
    QFETCH(int, result);
    dlg_->firstLayer = true;
    bool openAfterKeys = false;
    QTimer::singleShot(0, dlg_.get(), [&] {
      QLineEdit* height = Edit("txt_height");
      height->setText("5");
      QTest::keyClick(height, Qt::Key_Return);
      QTest::keyClick(height, Qt::Key_Escape);
      QTest::keyClick(dlg_.get(), Qt::Key_Escape);
      openAfterKeys = dlg_->isVisible();
      if (ending == "cancel") QTest::mouseClick(dlg_->btn_cancel, Qt::LeftButton);
      if (ending == "close") dlg_->close();
      if (ending == "save") QTest::mouseClick(dlg_->btn_save, Qt::LeftButton);
    });
    QTimer::singleShot(5000, dlg_.get(), &QDialog::reject);  // never hang
    QCOMPARE(dlg_->ShowModal(), result);
    QVERIFY(openAfterKeys);
    QVERIFY(!dlg_->isVisible());
    QVERIFY(prompts_.messages.empty());
  }

  // A grid whose value is its latitude (40 to 42 N, rising northward) with
  // a blank south-west corner: its picture shows north at the top and the
  // blank in the neutral grey, its facts beside it.
  void gridPreviewShowsNorthUpAndBlanks() {
    QTemporaryDir dir;
    const std::string grid = dir.filePath("g.grd").toStdString();
    globelayers::testing_fixtures::WriteSurfer6(grid, 4, 3, 10, 13, 40, 42, [](double x, double y) {
      return x == 10 && y == 40 ? 1.70141e38f : float(y);
    });
    QVERIFY(ShowActive(false));
    TypeAndLeave(Edit("txt_gridHeight"), QString::fromStdString(grid));

    const QImage picture = dlg_->preview_elevation->Picture();
    QVERIFY(!picture.isNull());
    QCOMPARE(picture.width(), globelayers::TGridPreview::kPictureSidePx);  // 3 by 2 degrees: wider than high
    QCOMPARE(picture.height(), 48);
    auto rgb = [](globelayers::TRgb c) { return qRgb(c.r, c.g, c.b); };
    const QRgb north = rgb(globelayers::SequentialColour(1)), south = rgb(globelayers::SequentialColour(0));
    const QRgb blank = rgb(globelayers::kBlankColour);
    QCOMPARE(picture.pixel(picture.width() - 1, 0), north);
    QCOMPARE(picture.pixel(picture.width() - 1, picture.height() - 1), south);
    QCOMPARE(picture.pixel(0, picture.height() - 1), blank);
    QCOMPARE(picture.pixel(0, 0), north);
    QCOMPARE(dlg_->preview_elevation->Caption(),
             QString("Surfer 6 grid, 4 x 3 nodes\nlon 10 to 13, step 1 deg\nlat 40 to 42, step 1 deg\n"
                     "min 40, max 42\nblanks 8.3 %"));
    // Emptying the field empties the picture.
    Edit("txt_gridHeight")->clear();
    QVERIFY(dlg_->preview_elevation->Picture().isNull());
    QVERIFY(dlg_->preview_elevation->Caption().isEmpty());
  }

  // A name that is no grid: what the run's reader says, beside the field,
  // and no message box.
  void gridPreviewSaysWhatTheReaderSays() {
    QTemporaryDir dir;
    QVERIFY(ShowActive(false));
    prompts_.fileReplies = {dir.filePath("missing.grd").toStdString()};
    QTest::mouseClick(dlg_->btn_density, Qt::LeftButton);
    QVERIFY(dlg_->preview_density->Picture().isNull());
    QVERIFY2(dlg_->preview_density->Caption().startsWith("Error by opening file " + dir.filePath("missing.grd")),
             qPrintable(dlg_->preview_density->Caption()));
    QCOMPARE(dlg_->preview_density->Caption().count("Error by opening file"), 1);
    QVERIFY(prompts_.messages.empty());
    // The first layer row has no density: its picture goes with its fields.
    dlg_->hide();
    QVERIFY(ShowActive(true));
    QVERIFY(!dlg_->preview_density->isVisible());
    QVERIFY(dlg_->preview_elevation->isVisible());
  }

  // The entries of a grid field's list, as the dialog shows them.
  QStringList ListShown(const QString& name) const {
    QStringList names;
    const auto* list = dlg_->findChild<QListWidget*>(name);
    for (int i = 0; i < list->count(); ++i) names << list->item(i)->text();
    return names;
  }

  // The list follows the field's text as a run splits the cell, and the
  // list written back is that text: one name, blanks and bars in it
  // included, stays one entry exactly as typed.
  void gridListFollowsTheCell_data() {
    QTest::addColumn<QString>("cell");
    QTest::newRow("one name") << "/grids/topo.grd";
    QTest::newRow("blanks and a bar without blanks") << "/my grids/a|b.grd";
    QTest::newRow("two") << "survey_1s.tif | etopo_1min.grd";
    QTest::newRow("three, a variable of a file") << "a.tif | NETCDF:\"r b.nc\":z | c.grd";
  }
  void gridListFollowsTheCell() {
    QFETCH(QString, cell);
    QVERIFY(ShowActive(false));
    Edit("txt_gridDensity")->setText(cell);
    std::vector<globelayers::TGridReference> grids;
    QVERIFY(globelayers::GridListFromCell(cell.toStdString(), grids));
    QStringList names;
    for (const auto& g : grids) names << QString::fromStdString(g.path);
    QCOMPARE(ListShown("lst_gridDensity"), names);
    // Moving the last grid up and back down writes the cell as it was.
    auto* list = dlg_->findChild<QListWidget*>("lst_gridDensity");
    QCOMPARE(list->currentRow(), names.size() - 1);
    QTest::mouseClick(dlg_->densityGrids.up, Qt::LeftButton);
    QTest::mouseClick(dlg_->densityGrids.down, Qt::LeftButton);
    QCOMPARE(Edit("txt_gridDensity")->text(), cell);
    QVERIFY(prompts_.messages.empty());
  }

  // Add (through the field's picker, at the end), remove and move, each
  // written to the field at once; a list of grids clears the constant of
  // its pair as a picked grid does, and Save hands the cell on unchanged.
  void gridListEditing() {
    QVERIFY(ShowActive(false));
    auto* list = dlg_->findChild<QListWidget*>("lst_gridHeight");
    Edit("txt_height")->setText("100");
    const struct {
      const char* action;  // the button pressed
      int chosen;          // the row chosen before, -1: as it stands
      const char* picked;  // the picker's answer for "add"; empty: cancelled
      const char* field;   // txt_gridHeight after
      int chosenAfter;
    } steps[] = {
        {"add", -1, "/g/etopo.grd", "/g/etopo.grd", 0},
        {"add", -1, "", "/g/etopo.grd", 0},
        {"add", -1, "/g/survey 1s.tif", "/g/etopo.grd | /g/survey 1s.tif", 1},
        {"up", 1, nullptr, "/g/survey 1s.tif | /g/etopo.grd", 0},
        {"up", 0, nullptr, "/g/survey 1s.tif | /g/etopo.grd", 0},  // already first
        {"add", -1, "/g/regional.tif", "/g/survey 1s.tif | /g/etopo.grd | /g/regional.tif", 2},
        {"down", 2, nullptr, "/g/survey 1s.tif | /g/etopo.grd | /g/regional.tif", 2},  // already last
        {"up", 2, nullptr, "/g/survey 1s.tif | /g/regional.tif | /g/etopo.grd", 1},
        {"remove", 0, nullptr, "/g/regional.tif | /g/etopo.grd", 0},
        {"remove", 1, nullptr, "/g/regional.tif", 0},
        {"remove", -1, nullptr, "", -1},
        {"remove", -1, nullptr, "", -1},  // nothing left to remove
    };
    int n = 0;
    for (const auto& step : steps) {
      const QByteArray at = QByteArray("step ") + QByteArray::number(++n) + " (" + step.action + ")";
      if (step.chosen >= 0) list->setCurrentRow(step.chosen);
      if (step.picked != nullptr)
        prompts_.fileReplies = {*step.picked ? std::optional<std::string>(step.picked) : std::nullopt};
      QPushButton* button = std::string(step.action) == "add"    ? dlg_->elevationGrids.add
                            : std::string(step.action) == "up"   ? dlg_->elevationGrids.up
                            : std::string(step.action) == "down" ? dlg_->elevationGrids.down
                                                                 : dlg_->elevationGrids.remove;
      QTest::mouseClick(button, Qt::LeftButton);
      QVERIFY2(Edit("txt_gridHeight")->text() == QString(step.field),
               at + ": " + Edit("txt_gridHeight")->text().toUtf8());
      QVERIFY2(ListShown("lst_gridHeight").join(" | ") == QString(step.field), at.constData());
      QVERIFY2(list->currentRow() == step.chosenAfter, at + ": row " + QByteArray::number(list->currentRow()));
    }
    QCOMPARE(Edit("txt_height")->text(), QString());  // cleared by the first grid
    for (const auto& pick : prompts_.picks) {
      QCOMPARE(QString::fromStdString(pick.title), QString("Open Globe Elevation Grid"));
      QCOMPARE(QString::fromStdString(pick.defaultExt), QString("GRD"));
    }
    QCOMPARE(prompts_.picks.size(), std::size_t(4));
    QVERIFY(prompts_.messages.empty());
  }

  // A list's preview shows its chosen grid (the last, the coarsest, at
  // first) with the extent of every other grid outlined over it: a 1 by 1
  // degree local grid inside a 10 by 10 degree regional one.
  void gridListPreviewOutlinesTheOthers() {
    QTemporaryDir dir;
    const std::string local = dir.filePath("local.grd").toStdString();
    const std::string regional = dir.filePath("regional.grd").toStdString();
    globelayers::testing_fixtures::WriteSurfer6(local, 5, 5, 12, 13, 44, 45, [](double, double) { return 1.f; });
    // Values rising eastward: no pixel of the picture is white by itself.
    globelayers::testing_fixtures::WriteSurfer6(regional, 11, 11, 10, 20, 40, 50,
                                                [](double x, double) { return float(x); });
    QVERIFY(ShowActive(false));
    TypeAndLeave(Edit("txt_gridHeight"), QString::fromStdString(local + " | " + regional));
    const QImage picture = dlg_->preview_elevation->Picture();
    QCOMPARE(picture.size(), QSize(72, 72));
    QVERIFY2(dlg_->preview_elevation->Caption().startsWith("Grid 2 of 2, others outlined\nSurfer 6 grid, 11 x 11"),
             qPrintable(dlg_->preview_elevation->Caption()));
    // Longitude 12 to 13 and latitude 45 to 44 on 71 pixels per 10 degrees:
    // columns 14.2 to 21.3, rows 35.5 to 42.6, rounded.
    const QRgb white = globelayers::TGridPreview::kOutlineColour;
    for (const QPoint corner : {QPoint(14, 36), QPoint(21, 36), QPoint(14, 43), QPoint(21, 43)})
      QCOMPARE(picture.pixel(corner), white);
    QVERIFY(picture.pixel(13, 36) != white);
    QVERIFY(picture.pixel(22, 43) != white);
    QVERIFY(picture.pixel(17, 40) != white);  // inside: the regional grid shows
    int whitePixels = 0;
    for (int y = 0; y < picture.height(); ++y)
      for (int x = 0; x < picture.width(); ++x) whitePixels += picture.pixel(x, y) == white;
    QCOMPARE(whitePixels, 2 * 8 + 2 * 6);  // the frame of 8 by 8 pixels, nothing else

    // Choosing the local grid shows it, and the regional grid's outline
    // lies beyond its picture.
    dlg_->findChild<QListWidget*>("lst_gridHeight")->setCurrentRow(0);
    QVERIFY(dlg_->preview_elevation->Caption().startsWith("Grid 1 of 2, others outlined\nSurfer 6 grid, 5 x 5"));
    const QImage localPicture = dlg_->preview_elevation->Picture();
    QCOMPARE(localPicture.size(), QSize(72, 72));
    QCOMPARE(localPicture.pixel(0, 0), localPicture.pixel(71, 71));  // one value, no outline
    QVERIFY(prompts_.messages.empty());
  }
};

QTEST_MAIN(LayerDialogTest)
#include "LayerDialogTest.moc"

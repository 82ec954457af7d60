// The layer dialog driven like a user: typing, leaving fields with Tab,
// clicking its buttons, and one real modal run.
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QTemporaryDir>

#include "ColourMap.h"
#include "GridFaults.h"
#include "GridFixtures.h"
#include "GridPreview.h"
#include "LayerDialog.h"
#include "RecordingPrompts.h"

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
    QCOMPARE(dlg_->size(), QSize(550, 230));  // the grid pictures to the right of x = 262
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
    for (const char* name :
         {"txt_density", "txt_gridDensity", "btn_density", "Label4", "Label5", "Label6"})
      QCOMPARE(dlg_->findChild<QWidget*>(name)->isVisible(), !firstLayer);
    for (const char* name : {"txt_height", "txt_gridHeight", "btn_elevation", "Label1"})
      QVERIFY(dlg_->findChild<QWidget*>(name)->isVisible());
    QCOMPARE(dlg_->size(), QSize(550, 230));  // the grid pictures to the right of x = 262
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
    const std::string missing = dir.filePath("missing.grd").toStdString();
    const QString notOpened =
        QString::fromStdString(globelayers::GridFaultMessage(globelayers::TGridFault::kNotOpened, missing)).trimmed();
    QVERIFY2(dlg_->preview_density->Caption().startsWith(notOpened), qPrintable(dlg_->preview_density->Caption()));
    QCOMPARE(dlg_->preview_density->Caption().count(notOpened), 1);
    QVERIFY(prompts_.messages.empty());
    // The first layer row has no density: its picture goes with its fields.
    dlg_->hide();
    QVERIFY(ShowActive(true));
    QVERIFY(!dlg_->preview_density->isVisible());
    QVERIFY(dlg_->preview_elevation->isVisible());
  }
};

QTEST_MAIN(LayerDialogTest)
#include "LayerDialogTest.moc"

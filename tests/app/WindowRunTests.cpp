// The main window's Calc command, its settings file, the Default button and
// the checks on leaving a numeric field, driven through the real widgets
// offscreen; and a run from the window against the batch front end on the
// settings file the window wrote.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QHelpEvent>

#include <sstream>

#include "Application.h"
#include "BatchRun.h"
#include "GridFaults.h"
#include "GridFixtures.h"
#include "LayerGrid.h"
#include "RadioGroup.h"
#include "ResultView.h"
#include "RunLog.h"
#include "RunSetup.h"
#include "TestWindows.h"

using namespace globelayers;
using test::TAppRecorder;
using test::TestSettings;
using test::ToQt;
using test::TWindows;
using test::LayerRows;
using test::SetLayerRows;
using test::TRows;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

bool WriteAll(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The window shown and active, so that focus moves send their events.
bool ShowActive(TfrmMain& window) {
  window.show();
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// A small run: two points, a global elevation grid on top, a constant
// surface and a constant bottom below it, a zone of 5 degrees.
struct TRunFixture {
  QTemporaryDir dir;
  QString points, grid;

  TRunFixture() {
    points = dir.filePath("pts.dat");
    WriteAll(points, "lon lat point h\n10.0 45.0 1 250.0\n11.5 46.25 2 0\n");
    grid = dir.filePath("topo.grd");
    testing_fixtures::WriteGlobalGrid(grid.toStdString(), [](double x, double y) {
      return static_cast<float>(500.0 + 3.0 * x - 2.0 * y);
    });
  }

  QString File(const QString& name) const { return dir.filePath(name); }

  TRows Rows() const {
    return {{"", grid, "", ""}, {"-1000", "", "2.67", ""}, {"-5000", "", "3.3", ""}};
  }

  // Fills the window as a person would for this run.
  void Fill(TfrmMain& w) const {
    w.dataPath->setText(points);
    w.TXT_Append->setText("_w");
    w.txt_incr->setText("10");
    w.TXT_T3DIST->setText("0");
    w.TXT_T4DIST->setText("5");
    w.TXT_LambdaFrom->setText("0");
    w.TXT_LambdaTo->setText("360");
    w.txt_segment->setText("3600");
    w.rg1->SetItemIndex(0);
    w.rg2->SetItemIndex(1);
    w.txt_number->setText("3");
    SetLayerRows(*w.sg1, Rows());
  }
};

}  // namespace

// ---------------------------------------------------------------------------

class CalcTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(kEnglish); }

  // The checks in their order, and the conversions made before anything
  // runs: a refusal shows its message, moves the focus as told, and
  // nothing is written; the window stays enabled.
  void refusals_data() {
    // The checks' words are asserted where they are made (RunSetupTest).
    const auto said = [](TRunCheck check) { return QString::fromStdString(RunCheckMessage(check)); };
    QTest::addColumn<bool>("dataFile");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QStringList>("fields");  // name=text pairs to type
    QTest::addColumn<QString>("message");     // plain message, or ""
    QTest::addColumn<QString>("error");       // error display, or ""
    QTest::addColumn<QString>("focus");       // focused control afterwards

    QTest::newRow("no data file") << false << 3 << QStringList{} << said(TRunCheck::NoPointFile)
                                  << "" << "btn_Calc";
    QTest::newRow("no layer row") << true << 0 << QStringList{}
                                  << said(TRunCheck::NoLayerRow) << "" << "btn_Calc";
    QTest::newRow("no layer row comes before the angles")
        << true << 0 << QStringList{"TXT_T4DIST=0"} << said(TRunCheck::NoLayerRow)
        << "" << "btn_Calc";
    QTest::newRow("Phi_to equal to Phi_from")
        << true << 3 << QStringList{"TXT_T3DIST=10", "TXT_T4DIST=10"}
        << said(TRunCheck::DistanceOrder) << "" << "TXT_T3DIST";
    QTest::newRow("Lambda_to below Lambda_from")
        << true << 3 << QStringList{"TXT_LambdaFrom=360", "TXT_LambdaTo=0"}
        << said(TRunCheck::AzimuthOrder) << "" << "TXT_LambdaFrom";
    QTest::newRow("one layer row") << true << 1 << QStringList{}
                                   << said(TRunCheck::TooFewLayerRows) << "" << "sg1";
    QTest::newRow("one layer row, after the angle checks")
        << true << 1 << QStringList{"TXT_T3DIST=10", "TXT_T4DIST=10"}
        << said(TRunCheck::DistanceOrder) << "" << "TXT_T3DIST";
    QTest::newRow("segment size not a number")
        << true << 3 << QStringList{"txt_segment=abc"} << ""
        << "'abc' is not a valid floating point value." << "btn_Calc";
    QTest::newRow("Phi_to not a number")
        << true << 3 << QStringList{"TXT_T4DIST=1O"} << ""
        << "'1O' is not a valid floating point value." << "btn_Calc";
    QTest::newRow("layer constant with the wrong separator")
        << true << 3 << QStringList{"cell=2,67"} << ""
        << "'2,67' is not a valid floating point value." << "btn_Calc";
  }
  void refusals() {
    QFETCH(bool, dataFile);
    QFETCH(int, rows);
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    QFETCH(QString, error);
    QFETCH(QString, focus);

    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    if (!dataFile) w.main.dataPath->setText("");
    SetLayerRows(*w.main.sg1, run.Rows().mid(0, rows));
    for (const QString& field : fields) {
      const QString name = field.section('=', 0, 0), text = field.section('=', 1);
      if (name == "cell")
        w.main.sg1->SetCellText(2, 3, text);
      else
        w.main.findChild<QLineEdit*>(name)->setText(text);
    }
    QVERIFY(ShowActive(w.main));
    w.main.btn_Calc->setFocus(Qt::MouseFocusReason);
    QTest::mouseClick(w.main.btn_Calc, Qt::LeftButton);

    QCOMPARE(ToQt(w.prompts.messages), message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(ToQt(w.prompts.errors), error.isEmpty() ? QStringList{} : QStringList{error});
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QVERIFY(w.main.WindowEnabled());
    QVERIFY(w.main.btn_Calc->isEnabled());
    // Nothing ran, nothing was written.
    QVERIFY(w.prompts.questions.empty());
    QCOMPARE(QDir(run.dir.path()).entryList(QDir::Files),
             QStringList({"pts.dat", "topo.grd"}));
  }

  // A whole run from the window: the result file, a log of every field as
  // it stands, the window disabled while the engine works.
  void completedRun() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    QVERIFY(ShowActive(w.main));
    bool enabledDuringRun = true;
    QTimer::singleShot(0, &w.main, [&] { enabledDuringRun = w.main.btn_Calc->isEnabled(); });
    w.main.btn_CalcClick();

    QVERIFY(!enabledDuringRun);
    QVERIFY(w.main.WindowEnabled());
    QVERIFY(w.main.TXT_R->isEnabled());
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});
    QVERIFY(w.prompts.errors.empty());
    const QByteArray result = ReadAll(run.File("pts_w_dce.dat"));
    QCOMPARE(result.count('\n'), 3);  // the header and two points

    const QStringList log = QString::fromUtf8(ReadAll(run.File("pts_w_dce.con"))).split('\n');
    const QStringList expected = {
        "Data file: " + run.points,
        "Append text: _w",
        "Increment: 10",
        "Gravity constant: 0.006673",
        "Phi from: 0",
        "Phi to: 5",
        "Earth radius: 6371001",
        "Lambda from: 0",
        "Lambda to: 360",
        "Priority: Change layers && sign",
        "Number of layer: 3",
        "Segment size: 3600",
        "Output unit: microGal",
        "Calulation for: Globe layers",
        "Layer 1:  " + run.grid + "   ",
        "Layer 2: -1000  2.67  ",
        "Layer 3: -5000  3.3  ",
        "Run completed.",
        "",
    };
    QCOMPARE(log.size(), expected.size() + 2);
    const QRegularExpression time("^ ?\\d{1,2}:\\d\\d:\\d\\d$");
    QVERIFY2(log[0].startsWith("Start time: ") && time.match(log[0].mid(12)).hasMatch(),
             qPrintable(log[0]));
    QVERIFY2(log[1].startsWith("End time: ") && time.match(log[1].mid(10)).hasMatch(),
             qPrintable(log[1]));
    QCOMPARE(log.mid(2), expected);
  }

  // After the unchanged final message, the offer to show the result; Yes
  // opens the result view on the file just written, with the unit and the
  // relief grid of the run.
  void completedRunOffersTheResultMap() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.prompts.yesNoReplies = {true};
    w.main.btn_CalcClick();
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});
    const QString result = run.File("pts_w_dce.dat");
    QCOMPARE(ToQt(w.prompts.questions), QStringList{"Show the result file " + result + " as a map?"});
    QVERIFY(w.main.ResultView() != nullptr);
    QVERIFY(w.main.ResultView()->isVisible());
    QCOMPARE(w.main.ResultView()->Table()->RowCount(), std::size_t(2));
    QCOMPARE(QString::fromStdString(w.main.ResultView()->Table()->fileName), result);
    QVERIFY(w.main.ResultView()->Table()->microGal);
    QCOMPARE(QString::fromStdString(w.main.ResultView()->ReliefGrid()), run.grid);
    w.main.ResultView()->close();

    // No: nothing opens.
    TWindows other;
    run.Fill(other.main);
    other.main.btn_CalcClick();
    QCOMPARE(other.prompts.questions.size(), std::size_t(1));
    QVERIFY(other.main.ResultView() == nullptr);
  }

  // "Results...": the result file of the window's settings when there is
  // one, else the one the user picks; a file that is no result file is
  // reported.
  void resultsButton() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.main.btn_results->click();  // no result yet: the picker, cancelled
    QCOMPARE(w.prompts.picks.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(w.prompts.picks[0].title), QString("Result file"));
    QVERIFY(w.main.ResultView() == nullptr);

    w.main.btn_CalcClick();
    w.main.btn_results->click();
    QCOMPARE(w.prompts.picks.size(), std::size_t(1));  // no picker this time
    QVERIFY(w.main.ResultView()->isVisible());
    QCOMPARE(QString::fromStdString(w.main.ResultView()->Table()->fileName), run.File("pts_w_dce.dat"));

    w.main.TXT_Append->setText("_other");
    w.prompts.fileReplies = {run.points.toStdString()};  // the point file is no result file
    w.main.btn_results->click();
    const TResultRead refused = ReadResultFile(run.points.toStdString(), false);
    QCOMPARE(refused.fault, TResultFault::UnknownHeader);
    QCOMPARE(ToQt(w.prompts.messages).last(), QString::fromStdString(refused.message));
    w.main.ResultView()->close();
  }

  // The grid cells of the layer table show the grid's facts as a tooltip;
  // a grid that cannot be read shows the reader's message, never a box.
  void gridCellToolTips() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.main.sg1->SetCellText(2, 4, run.File("none.grd"));
    const QString tip = w.main.sg1->GridCellToolTip(1, 2);
    QVERIFY2(tip.startsWith(run.grid + "\nSurfer 6 grid, 361 x 181 nodes\nlon -180 to 180, step 1 deg\n"),
             qPrintable(tip));
    QVERIFY(tip.contains("blanks 0.0 %"));
    QVERIFY(w.main.sg1->GridCellToolTip(2, 4).contains(
        QString::fromStdString(GridFaultMessage(TGridFault::kNotOpened, run.File("none.grd").toStdString()))
            .trimmed()));
    QCOMPARE(w.main.sg1->GridCellToolTip(2, 1), QString());  // a constant
    QCOMPARE(w.main.sg1->GridCellToolTip(1, 4), QString());  // an empty cell
    QCOMPARE(w.main.sg1->GridCellToolTip(4, 2), QString());  // the entry row
    QVERIFY(w.prompts.messages.empty());

    // Hovering shows it: the grid cell its facts, a constant the table's hint.
    QVERIFY(ShowActive(w.main));
    auto hover = [&](int qtRow, int column) {
      QToolTip::hideText();
      const QPoint at = w.main.sg1->visualRect(w.main.sg1->model()->index(qtRow, column)).center();
      QHelpEvent help(QEvent::ToolTip, at, w.main.sg1->viewport()->mapToGlobal(at));
      QApplication::sendEvent(w.main.sg1->viewport(), &help);
      return QToolTip::text();
    };
    QCOMPARE(hover(0, 2), tip);
    QCOMPARE(hover(1, 1), QString("Elevation and Elevation grid must be meters above sea"));
  }

  // Cancel confirmed: the complete lines stay, the log is written and ends
  // with when the run was cancelled, and the final message says what
  // happened.
  void cancelledRun() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.prompts.yesNoReplies = {true};
    w.wt4.Button1Click();  // pressed before the first point, answered after it
    w.main.btn_CalcClick();

    QCOMPARE(ToQt(w.prompts.questions), QStringList{"Cancel calculation?"});
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Calculation cancelled"});
    QCOMPARE(ReadAll(run.File("pts_w_dce.dat")).count('\n'), 2);
    const QString log = QString::fromUtf8(ReadAll(run.File("pts_w_dce.con")));
    QVERIFY(log.contains("Layer 3: -5000  3.3  \n"));
    const QRegularExpression ending(
        "\nRun cancelled at \\d\\d:\\d\\d:\\d\\d; the result file holds the points completed before it\\.\n$");
    QVERIFY2(ending.match(log).hasMatch(), qPrintable(log));
    QVERIFY(w.main.WindowEnabled());
  }

  // Closing the window during a run asks, as Cancel does, whether to
  // cancel it; Yes cancels the run and the window closes when it has
  // stopped, with its settings saved. No lets the run go on and the window
  // stays open.
  void closeDuringRun_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("cancel confirmed") << true;
    QTest::newRow("cancel declined") << false;
  }
  void closeDuringRun() {
    QFETCH(bool, yes);
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    QVERIFY(ShowActive(w.main));
    w.prompts.yesNoReplies = {yes};
    // Delivered while the engine lets the window process its messages.
    QTimer::singleShot(0, &w.main, [&] { QVERIFY(!w.main.close()); });
    w.main.btn_CalcClick();

    // A run that went on to the end offers its result view after that.
    QCOMPARE(w.prompts.questions.size(), std::size_t(yes ? 1 : 2));
    QCOMPARE(QString::fromStdString(w.prompts.questions.front()), QString("Cancel calculation?"));
    if (!yes) QVERIFY(w.prompts.questions.back().starts_with("Show the result file "));
    QCOMPARE(ToQt(w.prompts.messages),
             QStringList{yes ? "Calculation cancelled" : "Layers effect calculated"});
    QVERIFY(w.main.WindowEnabled());
    QCOMPARE(ReadAll(run.File("pts_w_dce.dat")).count('\n'), yes ? 2 : 3);
    QTRY_COMPARE(w.main.isVisible(), !yes);
    QCOMPARE(QFile::exists(w.main.SettingsLocation().SaveFile()), yes);
  }

  // A close declined with No is forgotten: a Cancel confirmed later stops
  // the run but leaves the window open.
  void closeDeclinedThenCancelled() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    QVERIFY(ShowActive(w.main));
    // A third point, so that the Cancel comes before the last one.
    WriteAll(run.points, "lon lat point h\n10.0 45.0 1 250.0\n11.5 46.25 2 0\n12.0 47.0 3 0\n");
    w.prompts.yesNoReplies = {false, true};
    // After the No, the person presses Cancel, asked about after the next point.
    w.prompts.afterAnswer = [&](bool yes) {
      if (!yes) w.wt4.Button1Click();
    };
    QTimer::singleShot(0, &w.main, [&] { w.main.close(); });
    w.main.btn_CalcClick();

    QCOMPARE(ToQt(w.prompts.questions), QStringList({"Cancel calculation?", "Cancel calculation?"}));
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Calculation cancelled"});
    QTest::qWait(50);
    QVERIFY(w.main.isVisible());
    QVERIFY(w.main.WindowEnabled());
  }

  // The engine's own message stands alone after a failure. A rerun that
  // fails before its first point (a grid cut short) leaves the result file
  // and the run log of the good run before it as they were, byte for byte.
  void failedRun() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.main.btn_CalcClick();
    const QByteArray goodResult = ReadAll(run.File("pts_w_dce.dat"));
    const QByteArray goodLog = ReadAll(run.File("pts_w_dce.con"));
    QCOMPARE(goodResult.count('\n'), 3);
    QVERIFY(goodLog.endsWith("\nRun completed.\n"));
    w.prompts.messages.clear();
    w.prompts.questions.clear();

    const QByteArray grid = ReadAll(run.grid);
    WriteAll(run.grid, grid.left(1000));
    w.main.btn_CalcClick();
    QVERIFY(w.wt4.engine.LastFault() == TRunFault::GridNotLoaded);
    QCOMPARE(ToQt(w.prompts.messages), ToQt({GridFaultMessage(TGridFault::kDamaged, run.grid.toStdString())}));
    QCOMPARE(ReadAll(run.File("pts_w_dce.dat")), goodResult);
    QCOMPARE(ReadAll(run.File("pts_w_dce.con")), goodLog);
    QCOMPARE(QDir(run.dir.path()).entryList({"*.tmp-*"}, QDir::Files), QStringList());
    QVERIFY(w.main.WindowEnabled());
  }

  // A ';' inside a grid name used to shift the cells of the layer row text,
  // so that the engine met a density constant "xyz" that the checks before
  // the run never saw. The rows now reach the engine converted: the name is
  // a name, here of a file that is not there. The window takes input.
  void semicolonInAGridName() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.main.sg1->SetCellText(2, 1, "");
    w.main.sg1->SetCellText(2, 2, run.grid + ";xyz");
    w.main.btn_CalcClick();

    QVERIFY(w.prompts.errors.empty());
    QVERIFY(w.wt4.engine.LastFault() == TRunFault::GridNotLoaded);
    const std::string opening = GridFaultMessage(TGridFault::kNotOpened, (run.grid + ";xyz").toStdString());
    QCOMPARE(ToQt(w.prompts.messages), ToQt({opening}));  // once, not once per native reader
    QVERIFY(!QFile::exists(run.File("pts_w_dce.con")));  // no point computed: nothing replaced
    QVERIFY(w.main.WindowEnabled());
    QVERIFY(w.main.btn_Calc->isEnabled());
    QVERIFY(!w.wt4.isVisible());
  }

  // A log that cannot be created is reported with its name; the run's own
  // ending still follows and the window takes input again.
  void logCannotBeCreated() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    const QString log = run.File("pts_w_dce.con");
    QVERIFY(QDir().mkdir(log));  // a folder in the log's place
    w.main.btn_CalcClick();

    // The log's own message for that name (its text is the run log's test).
    const TRunLogResult refused = WriteRunLog(log.toStdString(), TWindowState{}, {}, {});
    QCOMPARE(refused.fault, TRunLogFault::Unopenable);
    QCOMPARE(ToQt(w.prompts.messages),
             QStringList({QString::fromStdString(refused.message), "Layers effect calculated"}));
    QCOMPARE(ReadAll(run.File("pts_w_dce.dat")).count('\n'), 3);
    QVERIFY(w.main.WindowEnabled());
  }

  // The window and the batch front end on the settings file the window
  // wrote compute the same result file, byte for byte, and log the same
  // parameters.
  void windowAndBatchAgree() {
    TRunFixture run;
    TWindows w;
    run.Fill(w.main);
    w.main.rg1->SetItemIndex(1);
    w.main.TXT_LambdaFrom->setText("10.5");
    w.main.TXT_LambdaTo->setText("200");
    w.main.btn_CalcClick();
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});
    const QByteArray windowResult = ReadAll(run.File("pts_w_dce.dat"));
    const QByteArray windowLog = ReadAll(run.File("pts_w_dce.con"));
    QVERIFY(!windowResult.isEmpty());
    QVERIFY(QFile::remove(run.File("pts_w_dce.dat")));
    QVERIFY(QFile::remove(run.File("pts_w_dce.con")));

    w.main.SaveCfgFile();
    const QString settings = w.main.SettingsLocation().SaveFile();
    std::ostringstream out, err;
    // The output unit is not stored: the batch takes it from its command line.
    QCOMPARE(RunBatch({"--unit", "microGal", settings.toStdString()}, out, err, false),
             kBatchCompleted);
    QCOMPARE(QString::fromStdString(err.str()), QString());
    QCOMPARE(ReadAll(run.File("pts_w_dce.dat")), windowResult);
    const QByteArray batchLog = ReadAll(run.File("pts_w_dce.con"));
    // Alike from the data file line on; the two time lines differ.
    QCOMPARE(batchLog.mid(batchLog.indexOf("Data file:")),
             windowLog.mid(windowLog.indexOf("Data file:")));
  }
};

// ---------------------------------------------------------------------------

class SettingsTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(kEnglish); }

  // Closing writes the window, and a new window reads it back.
  void roundTrip() {
    QTemporaryDir folder;
    const TRows rows = {{"", "/grids/topo.grd", "", ""},
                        {"-1000", "", "2.67", ""},
                        {" ", "", "", "/grids/rho grid.grd"}};
    {
      TWindows w(TestSettings(folder.path()));
      w.main.dataPath->setText("  /data/points.dat ");
      w.main.TXT_Append->setText("");
      w.main.txt_incr->setText("12,5");  // no number here: stored as it stands
      w.main.TXT_gravc->setText("0.0066");
      w.main.TXT_T3DIST->setText("1.5");
      w.main.TXT_T4DIST->setText("90");
      w.main.TXT_R->setText("6370000");
      w.main.TXT_LambdaFrom->setText("15");
      w.main.TXT_LambdaTo->setText("345");
      w.main.rg1->SetItemIndex(2);
      w.main.rg2->SetItemIndex(1);
      w.main.txt_number->setText("3");
      w.main.txt_segment->setText("1800");
      w.main.chb_sum->setChecked(true);
      SetLayerRows(*w.main.sg1, rows);
      // Set after the first showing, whose resize rule would recompute 2 and 4.
      QVERIFY(ShowActive(w.main));
      w.main.sg1->SetColWidth(0, 24);
      w.main.sg1->SetColWidth(1, 70);
      w.main.sg1->SetColWidth(2, 111);
      w.main.sg1->SetColWidth(3, 80);
      w.main.sg1->SetColWidth(4, 222);
      QVERIFY(w.main.close());
      QVERIFY(w.prompts.messages.empty());
    }
    TWindows w(TestSettings(folder.path()));
    QVERIFY(w.prompts.messages.empty());
    QCOMPARE(w.main.dataPath->text(), QString("/data/points.dat"));
    QCOMPARE(w.main.TXT_Append->text(), QString());
    // Read back as a number with a decimal comma, as an older German
    // window wrote them, shown with this window's point.
    QCOMPARE(w.main.txt_incr->text(), QString("12.5"));
    QCOMPARE(w.main.TXT_gravc->text(), QString("0.0066"));
    QCOMPARE(w.main.TXT_T3DIST->text(), QString("1.5"));
    QCOMPARE(w.main.TXT_T4DIST->text(), QString("90"));
    QCOMPARE(w.main.TXT_R->text(), QString("6370000"));
    QCOMPARE(w.main.TXT_LambdaFrom->text(), QString("15"));
    QCOMPARE(w.main.TXT_LambdaTo->text(), QString("345"));
    QCOMPARE(w.main.rg1->ItemIndex(), 2);
    QCOMPARE(w.main.rg2->ItemIndex(), 0);  // the output unit is not stored
    QCOMPARE(w.main.txt_number->text(), QString("3"));
    QCOMPARE(w.main.txt_segment->text(), QString("1800"));
    QVERIFY(w.main.chb_sum->isChecked());
    // A cell of one blank comes back empty, as the store trims every value.
    TRows expected = rows;
    expected[2][0] = "";
    QCOMPARE(LayerRows(*w.main.sg1), expected);
    QCOMPARE(w.main.sg1->RowCount(), 5);
    for (int c = 1; c <= 4; ++c) QCOMPARE(w.main.sg1->CellText(4, c), QString());
    const int widths[] = {24, 70, 111, 80, 222};
    for (int c = 0; c < 5; ++c) QCOMPARE(w.main.sg1->ColWidth(c), widths[c]);
    // The first showing recomputes the two grid columns from the others.
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    const int grid = (681 - (24 + 70 + 80 + 32)) / 2;
    QCOMPARE(w.main.sg1->ColWidth(2), grid);
    QCOMPARE(w.main.sg1->ColWidth(4), grid);
    QCOMPARE(w.main.sg1->ColWidth(1), 70);
  }

  // A first save: every key in its place and order, each from its control.
  void firstSaveKeys() {
    TWindows w;
    const QString file = w.main.SettingsLocation().SaveFile();
    QVERIFY(!QFile::exists(file));
    w.main.dataPath->setText("pts.dat");
    w.main.TXT_Append->setText(" _a ");
    w.main.rg1->SetItemIndex(1);
    SetLayerRows(*w.main.sg1, {{"0", "", "", ""}, {"", "b.grd", "2.67", ""}});
    w.main.txt_number->setText("2");
    w.main.SaveCfgFile();
    QVERIFY(w.prompts.messages.empty());
    const int grid = w.main.sg1->ColWidth(2);  // as the resize rule left it
    const QStringList expected = {
        "[frmMain]",
        "datafile=pts.dat",
        "appendtext=_a",
        "gravc=0.006673",
        "t3dist=0",
        "t4dist=180",
        "R=6371001",
        "LonFrom=0",
        "LonTo=360",
        "incr=0",
        "priority=1",
        "number=2",
        "nlayer=2",
        "column0=20",
        "column1=55",
        QString("column2=%1").arg(grid),
        "column3=55",
        QString("column4=%1").arg(grid),
        "segsize=3600",
        "sum=0",
        "cell_row-1_col-1=0",
        "cell_row-1_col-2= ",
        "cell_row-1_col-3= ",
        "cell_row-1_col-4= ",
        "cell_row-2_col-1= ",
        "cell_row-2_col-2=b.grd",
        "cell_row-2_col-3=2.67",
        "cell_row-2_col-4= ",
    };
    QStringList lines = QString::fromUtf8(ReadAll(file)).split('\n');
    while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    QCOMPARE(lines, expected);
  }

  // A file that cannot be read or written is reported; the window goes on
  // with its start values and still closes.
  void unusableFile() {
    QTemporaryDir folder;
    TSettingsLocation location = TestSettings(folder.path());
    QVERIFY(QDir().mkpath(location.besideApp));  // a folder where the file belongs
    TWindows w(location);
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Error by read config file - use default"});
    QCOMPARE(w.main.TXT_T4DIST->text(), QString("180"));
    QCOMPARE(w.main.sg1->RowCount(), 2);
    QVERIFY(ShowActive(w.main));
    QVERIFY(w.main.close());
    QCOMPARE(ToQt(w.prompts.messages),
             QStringList({"Error by read config file - use default", "Error by save config file"}));
  }

  // Default: standard values in the user's format, the rest untouched.
  void defaultButton_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("gravc");
    QTest::addColumn<QString>("phiFrom");
    QTest::addColumn<QString>("lambdaTo");
    QTest::addColumn<QString>("oneDecimalZero");  // Lambda_from and the increment
    QTest::newRow("decimal point") << kEnglish << "0.006673" << "1.499444" << "360.0" << "0.0";
    QTest::newRow("decimal comma") << kGerman << "0,006673" << "1,499444" << "360,0" << "0,0";
  }
  void defaultButton() {
    QFETCH(QLocale, locale);
    QFETCH(QString, gravc);
    QFETCH(QString, phiFrom);
    QFETCH(QString, lambdaTo);
    QFETCH(QString, oneDecimalZero);
    QLocale::setDefault(locale);
    TWindows w;
    w.main.TXT_gravc->setText("1");
    w.main.TXT_T4DIST->setText("3");
    w.main.TXT_R->setText("4");
    w.main.TXT_Append->setText("_x");
    w.main.TXT_LambdaFrom->setText("5");
    w.main.TXT_LambdaTo->setText("6");
    w.main.txt_incr->setText("7");
    w.main.dataPath->setText("pts.dat");
    w.main.txt_number->setText("2");
    w.main.txt_segment->setText("7200");
    w.main.rg1->SetItemIndex(2);
    w.main.rg2->SetItemIndex(1);
    w.main.chb_sum->setChecked(true);
    const TRows rows = {{"0", "", "", ""}, {"-10", "", "2.67", ""}};
    SetLayerRows(*w.main.sg1, rows);
    QTest::mouseClick(w.main.BTN_Default, Qt::LeftButton);

    QCOMPARE(w.main.TXT_gravc->text(), gravc);
    QCOMPARE(w.main.TXT_T3DIST->text(), phiFrom);
    QCOMPARE(w.main.TXT_T4DIST->text(), QString("180"));
    QCOMPARE(w.main.TXT_R->text(), QString("6371001"));
    QCOMPARE(w.main.TXT_Append->text(), QString());
    QCOMPARE(w.main.TXT_LambdaFrom->text(), oneDecimalZero);
    QCOMPARE(w.main.TXT_LambdaTo->text(), lambdaTo);
    QCOMPARE(w.main.txt_incr->text(), oneDecimalZero);
    QCOMPARE(w.main.dataPath->text(), QString("pts.dat"));
    QCOMPARE(w.main.txt_number->text(), QString("2"));
    QCOMPARE(w.main.txt_segment->text(), QString("7200"));
    QCOMPARE(w.main.rg1->ItemIndex(), 2);
    QCOMPARE(w.main.rg2->ItemIndex(), 1);
    QVERIFY(w.main.chb_sum->isChecked());
    QCOMPARE(LayerRows(*w.main.sg1), rows);
    // The texts it wrote pass the checks on leaving the fields.
    for (QLineEdit* field : {w.main.TXT_LambdaFrom, w.main.TXT_LambdaTo, w.main.txt_incr,
                             w.main.TXT_gravc, w.main.TXT_T3DIST})
      w.main.CheckForNumber(field);
    QVERIFY(w.prompts.messages.empty());
  }

  // A settings file written by a window under either locale is read by a
  // window under either locale and by the batch front end: the file holds
  // decimal points, the reading window shows its own separator, and the
  // three runs (writer, reader, batch) give the same result file and log.
  void acrossLocales_data() {
    QTest::addColumn<QLocale>("writer");
    QTest::addColumn<QLocale>("reader");
    QTest::newRow("English to English") << kEnglish << kEnglish;
    QTest::newRow("English to German") << kEnglish << kGerman;
    QTest::newRow("German to English") << kGerman << kEnglish;
    QTest::newRow("German to German") << kGerman << kGerman;
  }
  void acrossLocales() {
    QFETCH(QLocale, writer);
    QFETCH(QLocale, reader);
    const auto typed = [](const QLocale& locale, QString text) {
      return text.replace('.', locale.decimalPoint());
    };
    const auto afterTimes = [](const QByteArray& log) { return log.mid(log.indexOf("Data file:")); };
    TRunFixture run;
    QTemporaryDir folder;
    const QString result = run.File("pts_w_dce.dat"), log = run.File("pts_w_dce.con");
    QByteArray writerResult, writerLog;
    {
      QLocale::setDefault(writer);
      TWindows w(TestSettings(folder.path()));
      run.Fill(w.main);
      w.main.txt_incr->setText(typed(writer, "12.5"));
      w.main.TXT_T4DIST->setText(typed(writer, "4.5"));
      w.main.sg1->SetCellText(2, 1, typed(writer, "-1000.5"));
      w.main.sg1->SetCellText(2, 3, typed(writer, "2.67"));
      w.main.sg1->SetCellText(3, 3, typed(writer, "3.3"));
      w.main.btn_CalcClick();
      QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});
      writerResult = ReadAll(result);
      writerLog = ReadAll(log);
      QVERIFY(writerLog.contains("\nIncrement: 12.5\n"));
      QVERIFY(writerLog.contains("\nGravity constant: 0.006673\n"));
      QVERIFY(writerLog.contains("\nLayer 2: -1000.5  2.67  \n"));
      w.main.SaveCfgFile();
      QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});  // saved
    }
    const QString settings = TestSettings(folder.path()).SaveFile();
    const QByteArray file = ReadAll(settings);
    for (const char* line : {"\ngravc=0.006673\n", "\nincr=12.5\n", "\nt4dist=4.5\n",
                             "\ncell_row-2_col-1=-1000.5\n", "\ncell_row-2_col-3=2.67\n"})
      QVERIFY2(file.contains(line), line);
    QVERIFY(QFile::remove(result) && QFile::remove(log));

    {
      QLocale::setDefault(reader);
      TWindows w(TestSettings(folder.path()));
      QVERIFY(w.prompts.messages.empty());
      QCOMPARE(w.main.txt_incr->text(), typed(reader, "12.5"));
      QCOMPARE(w.main.TXT_gravc->text(), typed(reader, "0.006673"));
      QCOMPARE(w.main.sg1->CellText(2, 3), typed(reader, "2.67"));
      w.main.rg2->SetItemIndex(1);  // the output unit is not stored
      w.main.btn_CalcClick();
      QCOMPARE(ToQt(w.prompts.messages), QStringList{"Layers effect calculated"});
      QCOMPARE(ReadAll(result), writerResult);
      QCOMPARE(afterTimes(ReadAll(log)), afterTimes(writerLog));
    }
    QVERIFY(QFile::remove(result) && QFile::remove(log));

    std::ostringstream out, err;
    QCOMPARE(RunBatch({"--unit", "microGal", settings.toStdString()}, out, err, false),
             kBatchCompleted);
    QCOMPARE(QString::fromStdString(err.str()), QString());
    QCOMPARE(ReadAll(result), writerResult);
    QCOMPARE(afterTimes(ReadAll(log)), afterTimes(writerLog));
  }

  // A layer row count the table cannot take is reported, as an unreadable
  // file is; the other keys are still read.
  void rowCountOutOfRange() {
    QTemporaryDir folder;
    const TSettingsLocation location = TestSettings(folder.path());
    QVERIFY(WriteAll(location.besideApp, "[frmMain]\nnumber=2\nnlayer=100000\ngravc=1\n"));
    TWindows w(location);
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"Error by read config file - use default"});
    QCOMPARE(w.main.TXT_gravc->text(), QString("1"));
    QCOMPARE(w.main.sg1->RowCount(), 2);
    QCOMPARE(w.main.txt_number->text(), QString("0"));  // the table's count, not the file's
  }

  // A column stored wider than the table is narrowed to the table's width
  // on reading, so the other columns can be scrolled back into view.
  void storedColumnWidthsClamped() {
    QTemporaryDir folder;
    const TSettingsLocation location = TestSettings(folder.path());
    QVERIFY(WriteAll(location.besideApp, "[frmMain]\ncolumn0=20\ncolumn1=50000\ncolumn3=70\n"));
    TWindows w(location);
    QVERIFY(w.prompts.messages.empty());
    QCOMPARE(w.main.sg1->ColWidth(1), w.main.sg1->width());
    QCOMPARE(w.main.sg1->ColWidth(3), 70);
  }

  // Which file is read and which written, by whether the file beside the
  // executable can be written and which files exist.
  void location_data() {
    QTest::addColumn<bool>("writable");
    QTest::addColumn<bool>("besideExists");
    QTest::addColumn<bool>("configExists");
    QTest::addColumn<QString>("read");
    QTest::addColumn<QString>("save");
    QTest::newRow("writable, nothing yet") << true << false << false << "beside" << "beside";
    QTest::newRow("writable wins over a config file") << true << true << true << "beside" << "beside";
    QTest::newRow("read-only, nothing yet") << false << false << false << "beside" << "config";
    QTest::newRow("read-only with a shipped file") << false << true << false << "beside" << "config";
    QTest::newRow("read-only, saved before") << false << true << true << "config" << "config";
    QTest::newRow("read-only, only the config file") << false << false << true << "config" << "config";
  }
  void location() {
    QFETCH(bool, writable);
    QFETCH(bool, besideExists);
    QFETCH(bool, configExists);
    QFETCH(QString, read);
    QFETCH(QString, save);
    QTemporaryDir folder;
    TSettingsLocation location = TestSettings(folder.path());
    location.canWrite = [&](const QString& path) {
      return path == location.besideApp ? writable : true;
    };
    QVERIFY(QDir().mkpath(folder.filePath("config")));
    if (besideExists) QVERIFY(WriteAll(location.besideApp, "[frmMain]\n"));
    if (configExists) QVERIFY(WriteAll(location.userConfig, "[frmMain]\n"));
    const auto which = [&](const QString& path) {
      return path == location.besideApp ? QString("beside")
             : path == location.userConfig ? QString("config")
                                           : path;
    };
    QCOMPARE(which(location.ReadFile()), read);
    QCOMPARE(which(location.SaveFile()), save);
  }

  // The application's own places: beside the executable, and the same name
  // in the configuration folder.
  void applicationLocation() {
    const TSettingsLocation location = TSettingsLocation::ForApplication();
    QCOMPARE(location.besideApp,
             QCoreApplication::applicationDirPath() + "/window_run_tests.ini");
    QCOMPARE(QFileInfo(location.userConfig).fileName(), QString("window_run_tests.ini"));
    QVERIFY(location.userConfig.startsWith(
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/"));
  }

  // An application folder the user cannot write to: the settings go to the
  // configuration folder (created when needed) and come back from there;
  // the file shipped beside the executable is read first and left alone.
  void configFolderFallback() {
    QTemporaryDir folder;
    TSettingsLocation location = TestSettings(folder.path());
    location.userConfig = folder.filePath("home/.config/globelayers/app.ini");
    location.canWrite = [beside = location.besideApp](const QString& path) {
      return path != beside;
    };
    const QByteArray shipped = "[frmMain]\nR=6378137\n";
    QVERIFY(WriteAll(location.besideApp, shipped));
    {
      TWindows w(location);
      QCOMPARE(w.main.TXT_R->text(), QString("6378137"));
      w.main.TXT_Append->setText("_mine");
      QVERIFY(ShowActive(w.main));
      QVERIFY(w.main.close());
      QVERIFY(w.prompts.messages.empty());
    }
    QCOMPARE(ReadAll(location.besideApp), shipped);
    QVERIFY(ReadAll(location.userConfig).contains("appendtext=_mine\n"));
    TWindows w(location);
    QCOMPARE(w.main.TXT_Append->text(), QString("_mine"));
    QCOMPARE(w.main.TXT_R->text(), QString("6378137"));
  }
};

// ---------------------------------------------------------------------------

class FieldCheckTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanup() { QLocale::setDefault(kEnglish); }

  void leaveField_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");  // "" when accepted
    const QString required = "Parameter is required";
    QTest::newRow("180 in Phi_to") << kEnglish << "TXT_T4DIST" << "180" << "";
    QTest::newRow("181 in Phi_to") << kEnglish << "TXT_T4DIST" << "181" << "181 Is out of valid range";
    QTest::newRow("-0.5 in Phi_from") << kEnglish << "TXT_T3DIST" << "-0.5" << "-0.5 Is out of valid range";
    QTest::newRow("0 in Lambda_from") << kEnglish << "TXT_LambdaFrom" << "0" << "";
    QTest::newRow("360 in Lambda_to") << kEnglish << "TXT_LambdaTo" << "360" << "";
    QTest::newRow("-0.1 in Lambda_from") << kEnglish << "TXT_LambdaFrom" << "-0.1"
                                         << "-0.1 Is out of valid range";
    QTest::newRow("360.5 in Lambda_to") << kEnglish << "TXT_LambdaTo" << "360.5"
                                        << "360.5 Is out of valid range";
    QTest::newRow("2.5 layers") << kEnglish << "txt_number" << "2.5" << "2.5 Is not a number";
    QTest::newRow("-3 layers") << kEnglish << "txt_number" << "-3" << "";
    QTest::newRow("negative radius") << kEnglish << "TXT_R" << "-6371001" << "";
    QTest::newRow("negative constant") << kEnglish << "TXT_gravc" << "-0.006673" << "";
    QTest::newRow("letters in the increment") << kEnglish << "txt_incr" << "ten" << "ten Is not a number";
    QTest::newRow("two separators") << kEnglish << "TXT_gravc" << "0.006.673"
                                    << "0.006.673 Is not a number";
    QTest::newRow("empty increment") << kEnglish << "txt_incr" << "" << required;
    QTest::newRow("empty layer count") << kEnglish << "txt_number" << "" << required;
    QTest::newRow("empty Lambda_to") << kEnglish << "TXT_LambdaTo" << "" << required;
    QTest::newRow("decimal comma, 12,5") << kGerman << "txt_incr" << "12,5" << "";
    QTest::newRow("decimal comma, 12.5") << kGerman << "txt_incr" << "12.5" << "12.5 Is not a number";
    QTest::newRow("decimal comma, range") << kGerman << "TXT_T4DIST" << "180,5"
                                          << "180,5 Is out of valid range";
    QTest::newRow("decimal point, 12,5") << kEnglish << "TXT_R" << "12,5" << "12,5 Is not a number";
  }
  void leaveField() {
    QFETCH(QLocale, locale);
    QFETCH(QString, field);
    QFETCH(QString, text);
    QFETCH(QString, message);
    QLocale::setDefault(locale);
    TWindows w;
    QVERIFY(ShowActive(w.main));
    auto* edit = w.main.findChild<QLineEdit*>(field);
    QVERIFY(edit);
    edit->setFocus(Qt::MouseFocusReason);
    edit->setText(text);
    w.main.dataPath->setFocus(Qt::TabFocusReason);  // leaving the field

    QCOMPARE(ToQt(w.prompts.messages), message.isEmpty() ? QStringList{} : QStringList{message});
    QCOMPARE(QApplication::focusWidget(), message.isEmpty() ? static_cast<QWidget*>(w.main.dataPath)
                                                            : static_cast<QWidget*>(edit));
    QCOMPARE(edit->text(), text);  // never changed by the check
  }

  // Fields without a check, and leaving a field for another window.
  void uncheckedLeaves() {
    TWindows w;
    QVERIFY(ShowActive(w.main));
    for (QLineEdit* edit : {w.main.txt_segment, w.main.dataPath, w.main.TXT_Append}) {
      edit->setFocus(Qt::MouseFocusReason);
      edit->setText("abc");
      w.main.TXT_R->setFocus(Qt::TabFocusReason);
    }
    QVERIFY(w.prompts.messages.empty());
    // A click on a button after a refused entry is dropped with the focus.
    w.main.TXT_T4DIST->setFocus(Qt::MouseFocusReason);
    w.main.TXT_T4DIST->setText("200");
    QTest::mouseClick(w.main.BTN_Default, Qt::LeftButton);
    QCOMPARE(ToQt(w.prompts.messages), QStringList{"200 Is out of valid range"});
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.main.TXT_T4DIST));
    QCOMPARE(w.main.TXT_T4DIST->text(), QString("200"));
  }
};

int main(int argc, char** argv) {
  return globelayers::test::RunSuites<CalcTest, SettingsTest, FieldCheckTest>(argc, argv);
}

#include "WindowRunTests.moc"

// The main window, its layer table, the application's error display and
// the progress dialog, driven through the real widgets offscreen.
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionGroupBox>
#include <QLocale>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <stdexcept>

#include "Application.h"
#include "LayerDialog.h"
#include "LayerGrid.h"
#include "QtPrompts.h"
#include "RadioGroup.h"
#include "RecordingPrompts.h"
#include "ResultView.h"
#include "ScreenFit.h"
#include "TestWindows.h"
#include "UserLocale.h"
#include "ProgressDialog.h"
#include "MainWindow.h"

using namespace globelayers;
using Recorder = test::TRecordingPrompts<>;
using test::TAppRecorder;
using test::ToQt;
using test::TScriptedLayer;
using test::TScriptedZones;
using test::TWindows;
using test::LayerRows;
using test::SetLayerRows;
using test::TRows;

// ---------------------------------------------------------------------------

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void startValues_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("gravc");
    QTest::newRow("decimal point") << QLocale(QLocale::English, QLocale::UnitedStates) << "0.006673";
    QTest::newRow("decimal comma") << QLocale(QLocale::German, QLocale::Germany) << "0,006673";
  }
  void startValues() {
    QFETCH(QLocale, locale);
    QFETCH(QString, gravc);
    QLocale::setDefault(locale);
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));

    QCOMPARE(w.main.windowTitle(), QString("Rm8_roved"));
    QCOMPARE(w.main.size(), QSize(737, 712));
    const std::pair<const char*, QString> texts[] = {
        {"dataPath", ""},        {"TXT_Append", ""},      {"txt_incr", "0"},
        {"TXT_T3DIST", "0"},     {"TXT_T4DIST", "180"},   {"TXT_R", "6371001"},
        {"TXT_LambdaFrom", "0"}, {"TXT_LambdaTo", "360"}, {"TXT_gravc", gravc},
        {"txt_number", "1"},     {"txt_segment", "3600"},
    };
    for (const auto& [name, text] : texts) {
      auto* edit = w.main.findChild<QLineEdit*>(name);
      QVERIFY2(edit, name);
      QCOMPARE(edit->text(), text);
    }
    QCOMPARE(w.main.rg1->ItemIndex(), 0);
    QCOMPARE(w.main.rg2->ItemIndex(), 0);
    QVERIFY(!w.main.chb_sum->isChecked());
    // The table: header and entry row, columns 2 and 4 set by the resize rule.
    TLayerGrid& sg1 = *w.main.sg1;
    QCOMPARE(sg1.RowCount(), 2);
    const QStringList headers = {"", "Elevation", "Elevation Grid", "Density", "Density Grid"};
    const int widths[] = {20, 55, 259, 55, 259};
    for (int c = 0; c < 5; ++c) {
      QCOMPARE(sg1.CellText(0, c), headers[c]);
      QCOMPARE(sg1.CellText(1, c), QString());
      QCOMPARE(sg1.ColWidth(c), widths[c]);
    }
    QCOMPARE(sg1.rowHeight(0), 21);
    QCOMPARE(sg1.CurrentRow(), 1);
    // The dialogs stay hidden until used.
    QVERIFY(!w.wt4.isVisible());
    QVERIFY(!w.layer.isVisible());
  }

  void controls_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");  // width -1: a label sized to its caption
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("hint");
    auto row = [](const char* name, const char* parent, QRect r, const char* caption,
                  const char* hint = "") {
      QTest::newRow(name) << name << parent << r << caption << hint;
    };
    row("GroupBox1", "frmMain", {4, 0, 609, 108}, "Data");
    row("Image1", "frmMain", {616, 0, 101, 101}, "");
    row("GB_T4", "frmMain", {8, 114, 721, 441}, "Globe layers");
    row("GB_Options", "frmMain", {8, 561, 721, 105}, "T4 - Calc options");
    row("btn_Calc", "frmMain", {577, 679, 73, 25}, "&Calc");
    row("btn_Exit", "frmMain", {656, 679, 73, 25}, "&Exit");
    row("btn_results", "frmMain", {498, 679, 73, 25}, "&Results...",
        "Show a result file as a map and a table");
    row("Label1", "GroupBox1", {8, 16, -1, 0}, "Data file (lambda, phi, point, h)");
    row("dataPath", "GroupBox1", {168, 12, 345, 21}, "");
    row("btn_grid", "GroupBox1", {519, 12, 52, 25}, "&Grid...",
        "Compute on a grid of points instead of the data file's points");
    row("btn_path", "GroupBox1", {576, 12, 25, 25}, "...", "Open dialog for  data path");
    row("Label10", "GroupBox1", {8, 40, -1, 0}, "Append text to output file name");
    row("TXT_Append", "GroupBox1", {168, 35, 169, 21}, "");
    row("Label13", "GroupBox1", {58, 68, -1, 0}, "Increment height [m]");
    row("txt_incr", "GroupBox1", {168, 60, 65, 21}, "");
    row("rg2", "GroupBox1", {352, 39, 129, 49}, "Output unit");
    row("chb_sum", "GroupBox1", {53, 85, 127, 17}, "write only result sum");
    row("btn_add", "GB_T4", {696, 16, 21, 21}, "&+", "Add new globe layer");
    row("btn_del", "GB_T4", {696, 40, 21, 21}, "&-", "Delete selected globe layer");
    row("sg1", "GB_T4", {9, 16, 681, 290}, "", "Elevation and Elevation grid must be meters above sea");
    row("rg1", "GB_T4", {505, 312, 185, 121}, "Correction priority for crossing grids",
        "For crossing grids use value of grid with priority");
    row("btn_update", "GB_T4", {696, 64, 21, 21}, "&u", "Update selected layer");
    row("Label8", "GB_T4", {16, 333, -1, 0}, "Number of layers");
    row("txt_number", "GB_T4", {112, 325, 105, 21}, "");
    row("Label5", "GB_Options", {8, 24, -1, 0}, "Phi_from [0 - 180 degree]");
    row("TXT_T3DIST", "GB_Options", {152, 16, 137, 21}, "", "Start radius from point of calc");
    row("Label6", "GB_Options", {8, 48, -1, 0}, "Phi_to     [0 - 180 degree]");
    row("TXT_T4DIST", "GB_Options", {152, 40, 137, 21}, "", "End radius from point of calc");
    row("Label4", "GB_Options", {8, 72, -1, 0}, "Earth radius [m]");
    row("TXT_R", "GB_Options", {152, 64, 137, 21}, "");
    row("Label11", "GB_Options", {296, 24, -1, 0}, "Lambda_from [0 - 360 degree]");
    row("TXT_LambdaFrom", "GB_Options", {448, 16, 137, 21}, "", "Start angle for segments");
    row("Label12", "GB_Options", {296, 48, -1, 0}, "Lambda_to [0 - 360 degree]");
    row("TXT_LambdaTo", "GB_Options", {448, 40, 137, 21}, "", "End angle for segments");
    row("Label7", "GB_Options", {296, 72, -1, 0}, "Gravity constant");
    row("TXT_gravc", "GB_Options", {448, 64, 137, 21}, "");
    row("Label17", "GB_Options", {608, 24, -1, 0}, "Segment size [sec]");
    row("txt_segment", "GB_Options", {608, 40, 105, 21}, "");
    row("BTN_Default", "GB_Options", {640, 67, 73, 25}, "Default");
    row("btn_zones", "GB_Options", {590, 67, 46, 25}, "Zones...",
        "Bands of spherical distance, each with its own segment size");
  }
  void controls() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QString, hint);
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    auto* control = w.main.findChild<QWidget*>(name);
    QVERIFY(control);
    // The window's own controls sit on its page, which scrolls on a screen
    // smaller than the window.
    const QWidget* holder = control->parentWidget();
    if (holder->objectName() == "page") holder = holder->window();
    QCOMPARE(holder->objectName(), parent);
    QCOMPARE(control->pos(), geometry.topLeft());
    if (geometry.width() >= 0) QCOMPARE(control->size(), geometry.size());
    QCOMPARE(control->toolTip(), hint);  // only the listed hints
    if (auto* label = qobject_cast<QLabel*>(control); label && name != "Image1")
      QCOMPARE(label->text(), caption);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) QCOMPARE(button->text(), caption);
    if (auto* group = qobject_cast<QGroupBox*>(control)) QCOMPARE(group->title(), caption);
    if (name == "Image1") QCOMPARE(qobject_cast<QLabel*>(control)->pixmap().size(), QSize(101, 101));
  }

  void radioItems() {
    TWindows w;
    QCOMPARE(w.main.rg1->ItemCount(), 3);
    // Stored with the doubled ampersand, which the screen shows as one.
    QCOMPARE(w.main.rg1->ItemText(0), QString("Change layers && sign"));
    QCOMPARE(w.main.rg1->ItemText(1), QString("Top grid"));
    QCOMPARE(w.main.rg1->ItemText(2), QString("Bottom grid"));
    QCOMPARE(w.main.rg2->ItemCount(), 2);
    QCOMPARE(w.main.rg2->ItemText(0), QString("mGal"));
    QCOMPARE(w.main.rg2->ItemText(1), QString("microGal"));
    w.main.rg1->SetItemIndex(2);
    QCOMPARE(w.main.rg1->ItemIndex(), 2);
  }

  void tabOrder() {
    TWindows w;
    const QStringList expected = {
        "btn_Calc", "btn_Exit", "btn_add", "btn_del", "sg1", "rg1.item0", "rg1.item1",
        "rg1.item2", "btn_update", "txt_number", "dataPath", "btn_grid", "btn_path", "TXT_Append",
        "txt_incr", "rg2.item0", "rg2.item1", "chb_sum", "TXT_R", "TXT_T3DIST", "TXT_T4DIST",
        "TXT_gravc", "BTN_Default", "TXT_LambdaFrom", "TXT_LambdaTo", "txt_segment", "btn_zones",
        "btn_results"};
    QStringList actual;
    QWidget* x = w.main.btn_Calc;
    do {
      if ((x->focusPolicy() & Qt::TabFocus) && x->isVisibleTo(&w.main)) {
        actual << (qobject_cast<QRadioButton*>(x) ? x->parentWidget()->objectName() + "." : QString()) +
                      x->objectName();
      }
      x = x->nextInFocusChain();
    } while (x != w.main.btn_Calc);
    QCOMPARE(actual, expected);
  }

  // Every group box draws its caption on the frame's top line, and every
  // control of the group, at its design position, lies inside the frame and
  // clear of the caption.
  void controlsInsideTheFrames() {
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    const QList<QGroupBox*> groups = w.main.findChildren<QGroupBox*>();
    QCOMPARE(groups.size(), 5);  // "Data", "Globe layers", "T4 - Calc options", rg1, rg2
    for (QGroupBox* group : groups) {
      QStyleOptionGroupBox option;
      option.initFrom(group);
      option.text = group->title();
      option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
      const QRect frame =
          group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxFrame, group);
      const QRect caption =
          group->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, group);
      const QString name = group->objectName();
      QVERIFY2(std::abs(caption.center().y() - frame.top()) <= 1, qPrintable(name));
      QVERIFY2(caption.top() >= 0, qPrintable(name));
      for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible()) continue;
        const QRect r = child->geometry();
        const QString where = name + "/" + child->objectName();
        QVERIFY2(r.top() > frame.top() && r.bottom() < frame.bottom(), qPrintable(where));
        QVERIFY2(r.left() > frame.left() && !r.intersects(caption), qPrintable(where));
      }
    }
    QCOMPARE(w.main.GroupBox1->geometry(), QRect(4, 0, 609, 108));
    QCOMPARE(w.main.dataPath->geometry(), QRect(168, 12, 345, 21));
  }

  // The window opens with the focus on the first control of its tab order,
  // so that Space does not press "+" by surprise.
  void focusAtStart() {
    TWindows w;
    w.main.show();
    w.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.main));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.main.btn_Calc));
  }

  // Anchors and the resize rule: the growth of the client area moves and
  // stretches the anchored controls and is split evenly between columns 2
  // and 4 (an odd pixel dropped).
  void resize_data() {
    QTest::addColumn<int>("dx");
    QTest::addColumn<int>("dy");
    QTest::addColumn<int>("gridColumn");
    QTest::newRow("design size") << 0 << 0 << 259;
    QTest::newRow("odd growth") << 101 << 50 << 310;
    QTest::newRow("even growth") << 100 << 0 << 309;
    QTest::newRow("large screen") << 543 << 168 << 531;
  }
  void resize() {
    QFETCH(int, dx);
    QFETCH(int, dy);
    QFETCH(int, gridColumn);
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    w.main.resize(737 + dx, 712 + dy);
    QTRY_COMPARE(w.main.sg1->width(), 681 + dx);
    QCOMPARE(w.main.sg1->height(), 290 + dy);
    QCOMPARE(w.main.sg1->ColWidth(2), gridColumn);
    QCOMPARE(w.main.sg1->ColWidth(4), gridColumn);
    QCOMPARE(w.main.sg1->ColWidth(1), 55);
    QCOMPARE(w.main.GB_T4->geometry(), QRect(8, 114, 721 + dx, 441 + dy));
    QCOMPARE(w.main.GB_Options->pos(), QPoint(8, 561 + dy));
    QCOMPARE(w.main.GroupBox1->pos(), QPoint(4, 0));
    QCOMPARE(w.main.btn_Calc->pos(), QPoint(577 + dx, 679 + dy));
    QCOMPARE(w.main.btn_Exit->pos(), QPoint(656 + dx, 679 + dy));
    QCOMPARE(w.main.btn_add->pos(), QPoint(696 + dx, 16));
    QCOMPARE(w.main.btn_update->pos(), QPoint(696 + dx, 64));
    QCOMPARE(w.main.rg1->pos(), QPoint(505, 312 + dy));
    QCOMPARE(w.main.txt_number->pos(), QPoint(112, 325 + dy));
    // Back to the design size: back to the design layout.
    w.main.resize(737, 712);
    QTRY_COMPARE(w.main.sg1->width(), 681);
    QCOMPARE(w.main.sg1->ColWidth(2), 259);
    QCOMPARE(w.main.btn_Calc->pos(), QPoint(577, 679));
  }

  // Columns the user dragged keep their widths; columns 2 and 4 take what
  // is left, never less than 20 pixels.
  void resizeRuleWithDraggedColumns_data() {
    QTest::addColumn<int>("col0");
    QTest::addColumn<int>("col1");
    QTest::addColumn<int>("col3");
    QTest::addColumn<int>("gridColumn");
    QTest::newRow("design widths") << 20 << 55 << 55 << 259;
    QTest::newRow("elevation widened") << 20 << 100 << 55 << 237;
    QTest::newRow("exactly nothing left") << 20 << 574 << 55 << 20;
    QTest::newRow("wider than the table") << 20 << 900 << 55 << 20;
  }
  void resizeRuleWithDraggedColumns() {
    QFETCH(int, col0);
    QFETCH(int, col1);
    QFETCH(int, col3);
    QFETCH(int, gridColumn);
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    w.main.sg1->SetColWidth(0, col0);
    w.main.sg1->SetColWidth(1, col1);
    w.main.sg1->SetColWidth(3, col3);
    w.main.FormResize();
    QCOMPARE(w.main.sg1->ColWidth(2), gridColumn);
    QCOMPARE(w.main.sg1->ColWidth(4), gridColumn);
    QCOMPARE(w.main.sg1->ColWidth(1), col1);
  }

  void pickDataFile() {
    TWindows w;
    w.main.show();
    w.main.dataPath->setText("typed by hand.dat");
    w.prompts.fileReplies = {std::nullopt, std::string("/data/points/stations.dat")};
    QTest::mouseClick(w.main.btn_path, Qt::LeftButton);  // cancelled
    QCOMPARE(w.main.dataPath->text(), QString("typed by hand.dat"));
    QTest::mouseClick(w.main.btn_path, Qt::LeftButton);  // confirmed
    QCOMPARE(w.main.dataPath->text(), QString("/data/points/stations.dat"));
    QCOMPARE(w.prompts.picks.size(), std::size_t(2));
    QCOMPARE(QString::fromStdString(w.prompts.picks[0].title), QString("Data file"));
    QCOMPARE(QString::fromStdString(w.prompts.picks[0].filter),
             QString("Data file - x,y,point,h (*.dat)|*.DAT"));
    QCOMPARE(QString::fromStdString(w.prompts.picks[0].defaultExt), QString("DAT"));
  }

  // While a run goes on the window takes no input, but the progress
  // dialog, a child window of it, must still take the Cancel click.
  void disabledWindowLeavesTheProgressDialogUsable() {
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    w.main.SetWindowEnabled(false);
    w.wt4.Show();
    QVERIFY(!w.main.btn_Calc->isEnabled());
    QVERIFY(!w.main.sg1->isEnabled());
    QVERIFY(!w.main.TXT_R->isEnabled());
    QVERIFY(w.wt4.Button1->isEnabled());
    QTest::mouseClick(w.wt4.Button1, Qt::LeftButton);
    QVERIFY(w.wt4.TakeCancelRequest());
    w.main.close();
    QVERIFY(w.main.isVisible());
    w.wt4.Hide();
    w.main.SetWindowEnabled(true);
    QVERIFY(w.main.btn_Calc->isEnabled());
    QVERIFY(w.main.close());
  }

  void exitClosesTheWindow() {
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    QTest::mouseClick(w.main.btn_Exit, Qt::LeftButton);
    QVERIFY(!w.main.isVisible());
  }
};

// ---------------------------------------------------------------------------

class LayerTableTest : public QObject {
  Q_OBJECT

 private slots:
  void edit_data() {
    QTest::addColumn<TRows>("rows");           // layer rows before
    QTest::addColumn<QStringList>("entry");    // what was typed into the entry row
    QTest::addColumn<int>("current");          // current row
    QTest::addColumn<QString>("button");       // "add", "update", "delete"
    QTest::addColumn<QStringList>("typed");    // typed into the dialog; empty: keep
    QTest::addColumn<bool>("save");            // Save, else Cancel
    QTest::addColumn<int>("runs");             // times the dialog was shown
    QTest::addColumn<bool>("seenFirstLayer");
    QTest::addColumn<QStringList>("seenFields");
    QTest::addColumn<TRows>("rowsAfter");
    QTest::addColumn<QString>("number");       // txt_number afterwards ("keep": untouched)
    QTest::addColumn<QStringList>("messages");

    const QStringList none;
    const QStringList empty = {"", "", "", ""};
    const QStringList top = {"0", "", "", ""};
    const QStringList second = {"-1000", "", "2.67", ""};
    const QStringList third = {"", "moho.grd", "", "rho.grd"};
    const QString noDensity = "One of const density or grid density must be defined";

    QTest::newRow("add to an empty table: no density asked")
        << TRows{} << none << 1 << "add" << top << true << 1 << true << empty
        << TRows{top} << "1" << none;
    QTest::newRow("add a second layer without density: refused")
        << TRows{top} << none << 1 << "add" << QStringList{"-1000", "", "", ""} << true << 1
        << false << empty << TRows{top} << "keep" << QStringList{noDensity};
    QTest::newRow("add a second layer")
        << TRows{top} << none << 1 << "add" << second << true << 1 << false << empty
        << TRows{top, second} << "2" << none;
    QTest::newRow("add cancelled") << TRows{top} << none << 2 << "add" << second << false << 1
                                   << false << empty << TRows{top} << "keep" << none;
    QTest::newRow("update row 1 empties its density")
        << TRows{{"0", "", "9", "x.grd"}, second} << none << 1 << "update" << none << true << 1
        << true << top << TRows{top, second} << "keep" << none;
    QTest::newRow("update a later row")
        << TRows{top, second} << none << 2 << "update" << third << true << 1 << false << second
        << TRows{top, third} << "keep" << none;
    QTest::newRow("update cancelled")
        << TRows{top, second} << none << 2 << "update" << third << false << 1 << false << second
        << TRows{top, second} << "keep" << none;
    QTest::newRow("update on the entry row adds")
        << TRows{top} << none << 2 << "update" << second << true << 1 << false << empty
        << TRows{top, second} << "2" << none;
    QTest::newRow("update on the entry row of an empty table adds")
        << TRows{} << QStringList{"typed", "", "", ""} << 1 << "update" << top << true << 1
        << true << empty << TRows{top} << "1" << none;
    QTest::newRow("delete the only layer row")
        << TRows{top} << none << 1 << "delete" << none << true << 0 << false << none
        << TRows{} << "0" << none;
    QTest::newRow("delete with no layer row clears the entry row")
        << TRows{} << QStringList{"typed", "a.grd", "", ""} << 1 << "delete" << none << true << 0
        << false << none << TRows{} << "keep" << none;
    QTest::newRow("delete a middle row keeps the order")
        << TRows{top, second, third} << none << 2 << "delete" << none << true << 0 << false
        << none << TRows{top, third} << "2" << none;
    QTest::newRow("delete the last layer row")
        << TRows{top, second} << none << 2 << "delete" << none << true << 0 << false << none
        << TRows{top} << "1" << none;
    QTest::newRow("delete on the entry row does nothing")
        << TRows{top, second} << none << 3 << "delete" << none << true << 0 << false << none
        << TRows{top, second} << "keep" << none;
  }
  void edit() {
    QFETCH(TRows, rows);
    QFETCH(QStringList, entry);
    QFETCH(int, current);
    QFETCH(QString, button);
    QFETCH(QStringList, typed);
    QFETCH(bool, save);
    QFETCH(int, runs);
    QFETCH(bool, seenFirstLayer);
    QFETCH(QStringList, seenFields);
    QFETCH(TRows, rowsAfter);
    QFETCH(QString, number);
    QFETCH(QStringList, messages);

    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    TLayerGrid& sg1 = *w.main.sg1;
    SetLayerRows(sg1, rows, entry);
    sg1.SetCurrentRow(current);
    QCOMPARE(sg1.CurrentRow(), current);
    w.main.txt_number->setText("keep");
    // Leftovers of an earlier showing must not reach the table.
    w.layer.txt_height->setText("old");
    w.layer.txt_gridDensity->setText("old.grd");
    w.layer.typed = typed;
    w.layer.pressSave = save;

    QPushButton* pressed = button == "add"      ? w.main.btn_add
                           : button == "update" ? w.main.btn_update
                                                : w.main.btn_del;
    QTest::mouseClick(pressed, Qt::LeftButton);

    QCOMPARE(w.layer.runs, runs);
    if (runs > 0) {
      QCOMPARE(w.layer.seenFirstLayer, seenFirstLayer);
      QCOMPARE(w.layer.seenFields, seenFields);
    }
    QCOMPARE(LayerRows(sg1), rowsAfter);
    QCOMPARE(sg1.RowCount(), rowsAfter.size() + 2);
    QCOMPARE(w.main.txt_number->text(), number);
    QCOMPARE(ToQt(w.prompts.messages), messages);
    // Header, fixed column and the one empty entry row are never disturbed,
    // except by typing into the entry row, which only Add overwrites.
    const bool entryKept = button == "update" && runs == 0;
    for (int c = 1; c <= 4; ++c) {
      if (!entryKept) QCOMPARE(sg1.CellText(sg1.RowCount() - 1, c), QString());
    }
    for (int r = 1; r < sg1.RowCount(); ++r) QCOMPARE(sg1.CellText(r, 0), QString());
    QCOMPARE(sg1.CellText(0, 1), QString("Elevation"));
    QVERIFY(sg1.CurrentRow() >= 1 && sg1.CurrentRow() < sg1.RowCount());
  }

  void cellsAreEditableExceptTheFixedColumn() {
    TWindows w;
    TLayerGrid& sg1 = *w.main.sg1;
    SetLayerRows(sg1, {{"0", "", "", ""}}, {});
    QVERIFY(!(sg1.item(0, 0)->flags() & Qt::ItemIsEditable));
    for (int c = 1; c <= 4; ++c) QVERIFY(sg1.item(0, c)->flags() & Qt::ItemIsEditable);
    // Typed text is kept as typed, blanks included.
    sg1.SetCellText(1, 3, " ");
    QCOMPARE(sg1.CellText(1, 3), QString(" "));
  }

  // The keyboard is never trapped in the table: Tab and Shift+Tab (with
  // Ctrl too, and from a cell being edited) go on along the window's tab
  // order; the arrows move between cells, never into column 0.
  void keyboardLeavesTheTable_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("editing");  // a cell editor open when the key comes
    QTest::addColumn<QString>("next");  // object name of the control that gets the focus
    QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << false << "item0";
    QTest::newRow("Shift+Tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << false << "btn_del";
    QTest::newRow("Ctrl+Tab") << int(Qt::Key_Tab) << int(Qt::ControlModifier) << false << "item0";
    QTest::newRow("Ctrl+Shift+Tab") << int(Qt::Key_Backtab)
                                    << int(Qt::ControlModifier | Qt::ShiftModifier) << false
                                    << "btn_del";
    QTest::newRow("Tab while editing") << int(Qt::Key_Tab) << int(Qt::NoModifier) << true << "item0";
    QTest::newRow("Shift+Tab while editing") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << true
                                             << "btn_del";
  }
  void keyboardLeavesTheTable() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, editing);
    QFETCH(QString, next);
    TWindows w;
    TLayerGrid& sg1 = *w.main.sg1;
    SetLayerRows(sg1, {{"0", "", "", ""}, {"-10", "", "2.67", ""}});
    w.main.show();
    w.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.main));
    sg1.setFocus(Qt::TabFocusReason);
    sg1.setCurrentCell(0, 1);
    QTRY_VERIFY(sg1.hasFocus());
    if (editing) {
      QTest::keyClick(&sg1, '1');  // any key opens the editor on the current cell
      QTRY_VERIFY(QApplication::focusWidget() != &sg1);
      QTest::keyClick(QApplication::focusWidget(), '2');
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTRY_COMPARE(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString(),
                 next);
    if (editing) QCOMPARE(sg1.CellText(1, 1), QString("12"));  // what was typed is kept
    QCOMPARE(LayerRows(sg1).size(), 2);
  }

  void arrowsStayInTheLayerColumns() {
    TWindows w;
    TLayerGrid& sg1 = *w.main.sg1;
    SetLayerRows(sg1, {{"0", "", "", ""}, {"-10", "", "2.67", ""}});
    w.main.show();
    w.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.main));
    sg1.setFocus(Qt::TabFocusReason);
    sg1.setCurrentCell(1, 2);
    QTest::keyClick(&sg1, Qt::Key_Left);
    QCOMPARE(sg1.currentColumn(), 1);
    QTest::keyClick(&sg1, Qt::Key_Left);  // column 0 is no stop
    QCOMPARE(sg1.currentColumn(), 1);
    QTest::keyClick(&sg1, Qt::Key_Home);
    QCOMPARE(sg1.currentColumn(), 1);
    QTest::keyClick(&sg1, Qt::Key_Up);
    QCOMPARE(sg1.CurrentRow(), 1);
    QTest::keyClick(&sg1, Qt::Key_Right);
    QCOMPARE(sg1.currentColumn(), 2);
    QVERIFY(sg1.hasFocus());
    // A click into column 0 lands in column 1 of its row.
    const QRect fixedCell = sg1.visualRect(sg1.model()->index(1, 0));
    QTest::mouseClick(sg1.viewport(), Qt::LeftButton, {}, fixedCell.center());
    QCOMPARE(sg1.CurrentRow(), 2);
    QCOMPARE(sg1.currentColumn(), 1);
  }

  // Columns dragged wider than the table can be scrolled back into view.
  void horizontalScrollBarWhenColumnsOverflow() {
    TWindows w;
    TLayerGrid& sg1 = *w.main.sg1;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    QTRY_VERIFY(!sg1.horizontalScrollBar()->isVisible());  // the design widths fit
    sg1.SetColWidth(1, 900);
    w.main.FormResize();
    QTRY_VERIFY(sg1.horizontalScrollBar()->isVisible());
    QVERIFY(sg1.horizontalScrollBar()->maximum() > 0);
    sg1.SetColWidth(1, 55);
    w.main.FormResize();
    QTRY_VERIFY(!sg1.horizontalScrollBar()->isVisible());
  }
};

// ---------------------------------------------------------------------------

class ApplicationTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void errorText_data() {
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Disk full" << "Disk full.";
    QTest::newRow("digit") << "Error 5" << "Error 5.";
    QTest::newRow("slash, just above the point") << "a/b" << "a/b.";
    QTest::newRow("point itself") << "Done." << "Done.";
    QTest::newRow("minus, just below") << "x -" << "x -";
    QTest::newRow("closing parenthesis") << "(x)" << "(x)";
    QTest::newRow("empty") << "" << "";
  }
  void errorText() {
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(QString::fromStdString(ErrorDisplayText(message.toStdString())), shown);
  }

  // An exception escaping a handler is shown and the event loop goes on.
  void escapedExceptionIsShown() {
    auto* app = static_cast<TApplication*>(QCoreApplication::instance());
    TAppRecorder display;
    app->SetErrorDisplay(&display);
    bool laterEventRan = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("'abc' is not a valid floating point value"); });
    QTimer::singleShot(0, [] { throw 42; });
    QTimer::singleShot(1, [&] { laterEventRan = true; });
    QTRY_VERIFY(laterEventRan);
    app->SetErrorDisplay(nullptr);
    QCOMPARE(ToQt(display.errors),
             QStringList({"'abc' is not a valid floating point value.", "Unknown exception."}));
  }

  void title() { QCOMPARE(ApplicationTitle(), QString("app_tests")); }

  // The Qt prompts: the box's icon, buttons and title, answered by a timer
  // standing in for the person.
  void qtMessageBoxes_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<bool>("answer");
    const int ok = QMessageBox::Ok, yes = QMessageBox::Yes, no = QMessageBox::No;
    QTest::newRow("plain message") << "message" << ok << int(QMessageBox::NoIcon) << ok << false;
    QTest::newRow("question, Yes") << "question" << yes << int(QMessageBox::Question) << (yes | no) << true;
    QTest::newRow("question, No") << "question" << no << int(QMessageBox::Question) << (yes | no) << false;
    QTest::newRow("error") << "error" << ok << int(QMessageBox::Critical) << ok << false;
  }
  void qtMessageBoxes() {
    QFETCH(QString, kind);
    QFETCH(int, press);
    QFETCH(int, icon);
    QFETCH(int, buttons);
    QFETCH(bool, answer);
    TQtPrompts prompts;
    QString title, text;
    int seenIcon = -1, seenButtons = -1;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      title = box->windowTitle();
      text = box->text();
      seenIcon = box->icon();
      seenButtons = box->standardButtons();
      box->button(QMessageBox::StandardButton(press))->click();
    });
    bool reply = false;
    if (kind == "message") prompts.ShowMessage("Layers effect calculated");
    if (kind == "question") reply = prompts.AskYesNo("Layers effect calculated");
    if (kind == "error") prompts.ShowError("Layers effect calculated");
    QCOMPARE(title, QString("app_tests"));
    QCOMPARE(text, QString("Layers effect calculated"));
    QCOMPARE(seenIcon, icon);
    QCOMPARE(seenButtons, buttons);
    QCOMPARE(reply, answer);
  }

  // With a real message box in between (which takes the activation away
  // and gives it back), a refused constant still keeps the focus and the
  // click on Save that left it is dropped.
  void refusedConstantWithARealMessageBox() {
    TQtPrompts prompts;
    TfrmLayer dlg(prompts);
    dlg.firstLayer = true;
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    dlg.txt_height->setFocus(Qt::MouseFocusReason);
    dlg.txt_height->setText("abc");
    dlg.txt_gridHeight->setText("x.grd");
    QString shown;
    QTimer::singleShot(0, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown = box->text();
        box->button(QMessageBox::Ok)->click();
      }
    });
    dlg.setResult(QDialog::Rejected);
    QTest::mouseClick(dlg.btn_save, Qt::LeftButton);
    QCOMPARE(shown, QString("abc Is not a number"));
    QTest::qWait(20);  // the window system hands the activation back
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QCOMPARE(dlg.focusWidget(), static_cast<QWidget*>(dlg.txt_height));
    QCOMPARE(dlg.txt_gridHeight->text(), QString("x.grd"));
  }

  // The file dialog gets the title and the filter, and a name typed without
  // an extension gets the default one.
  void qtFilePicker() {
    QTemporaryDir dir;
    QFile file(dir.filePath("stations.DAT"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    TQtPrompts prompts;
    QString title;
    QStringList filters;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      title = dialog->windowTitle();
      filters = dialog->nameFilters();
      dialog->setDirectory(dir.path());
      dialog->selectFile("stations");
      QMetaObject::invokeMethod(dialog, "accept");
    });
    const auto picked =
        prompts.PickOpenFile("Data file", "Data file - x,y,point,h (*.dat)|*.DAT", "DAT");
    QCOMPARE(title, QString("Data file"));
    QCOMPARE(filters, QStringList{"Data file - x,y,point,h (*.dat)"});
    QVERIFY(picked.has_value());
    QCOMPARE(QString::fromStdString(*picked), QFileInfo(file).absoluteFilePath());

    QTimer::singleShot(0, [] {
      if (auto* dialog = QApplication::activeModalWidget()) static_cast<QDialog*>(dialog)->reject();
    });
    QVERIFY(!prompts.PickOpenFile("Data file", "Data file - x,y,point,h (*.dat)|*.DAT", "DAT"));
  }

  // On a file system that minds case, a name typed without an extension
  // gets the extension its file has, whatever the case of the default; the
  // dialog lists files of either case.
  void qtFilePickerIgnoresExtensionCase_data() {
    QTest::addColumn<QStringList>("files");     // in the folder
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("defaultExt");
    QTest::addColumn<QString>("picked");        // file name; empty: refused
    QTest::newRow("lower case file, upper case default")
        << QStringList{"topo.grd"} << "topo" << "GRD" << "topo.grd";
    QTest::newRow("upper case file, lower case default")
        << QStringList{"topo.GRD"} << "topo" << "grd" << "topo.GRD";
    QTest::newRow("both: the default's case wins")
        << QStringList{"topo.grd", "topo.GRD"} << "topo" << "GRD" << "topo.GRD";
    QTest::newRow("mixed case")
        << QStringList{"topo.Grd"} << "topo" << "GRD" << "topo.Grd";
    QTest::newRow("extension typed") << QStringList{"topo.grd"} << "topo.grd" << "GRD" << "topo.grd";
  }
  void qtFilePickerIgnoresExtensionCase() {
    QFETCH(QStringList, files);
    QFETCH(QString, typed);
    QFETCH(QString, defaultExt);
    QFETCH(QString, picked);
    QTemporaryDir dir;
    for (const QString& name : files) {
      QFile file(dir.filePath(name));
      QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QCOMPARE(QFileInfo(WithExistingExtension(dir.filePath(typed), defaultExt)).fileName(), picked);

    TQtPrompts prompts;
    int listed = -1;
    // Should the dialog refuse the name ("topo.GRD File not found."), its
    // message box and then the dialog are closed, so that the test fails
    // instead of waiting; the timers go with this test.
    QObject thisTest;
    QString refusal;
    QTimer::singleShot(3000, &thisTest, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        refusal = box->text();
        box->done(QMessageBox::Ok);
      }
    });
    QTimer::singleShot(3500, &thisTest, [] {
      if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      dialog->setDirectory(dir.path());
      // The list of the dialog: every file of the folder matches the pattern.
      if (auto* list = dialog->findChild<QListView*>("listView")) {
        (void)QTest::qWaitFor(
            [&] { return list->model()->rowCount(list->rootIndex()) == files.size(); }, 5000);
        listed = list->model()->rowCount(list->rootIndex());
      }
      // Typed into the name field, as a person would.
      auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
      QVERIFY(name != nullptr);
      name->setText(typed);
      QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
    });
    const auto result = prompts.PickOpenFile("Open Globe Elevation Grid",
                                             "Elevation Grid (*.grd)|*." + defaultExt.toStdString(),
                                             defaultExt.toStdString());
    QCOMPARE(refusal, QString());
    QVERIFY(result.has_value());
    QCOMPARE(QString::fromStdString(*result), QFileInfo(dir.filePath(picked)).absoluteFilePath());
    QCOMPARE(listed, int(files.size()));
  }

  // The windows' number-to-text conversion: 15 significant digits, no
  // trailing zeros, a short exponent, the user's separator.
  void floatToStr_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    const QLocale de(QLocale::German, QLocale::Germany);
    QTest::newRow("gravitational constant") << en << 0.006673 << "0.006673";
    QTest::newRow("same, decimal comma") << de << 0.006673 << "0,006673";
    QTest::newRow("whole number") << de << 6371001.0 << "6371001";
    QTest::newRow("Default's Phi_from") << en << 1.499444 << "1.499444";
    QTest::newRow("15 digits round 0.1 + 0.2") << en << 0.1 + 0.2 << "0.3";
    QTest::newRow("negative") << de << -2.5 << "-2,5";
    QTest::newRow("small") << en << 0.00001 << "1E-5";
    QTest::newRow("large") << de << 1.5e20 << "1,5E20";
    QTest::newRow("just fixed") << en << 123456789012345.0 << "123456789012345";
    QTest::newRow("just exponent") << en << 1e15 << "1E15";
  }
  void floatToStr() {
    QFETCH(QLocale, locale);
    QFETCH(double, value);
    QFETCH(QString, text);
    QLocale::setDefault(locale);
    QCOMPARE(FloatToStr(value), text);
    QCOMPARE(UserDecimalSeparator(), locale.decimalPoint().at(0).toLatin1());
  }

  void filterForQt_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("qt");
    // A pattern the description already shows, in whatever case, is not
    // shown a second time.
    QTest::newRow("data file") << "Data file - x,y,point,h (*.dat)|*.DAT"
                               << "Data file - x,y,point,h (*.dat)";
    QTest::newRow("elevation grid") << "Elevation Grid (*.grd)|*.GRD" << "Elevation Grid (*.grd)";
    QTest::newRow("density grid") << "Density Grid (*.grd)|*.grd" << "Density Grid (*.grd)";
    QTest::newRow("another pattern in the description") << "Grid (*.grd)|*.dat" << "Grid (*.grd) (*.dat)";
    QTest::newRow("two entries") << "A|*.a|B|*.b;*.c" << "A (*.a);;B (*.b;*.c)";
  }
  void filterForQt() {
    QFETCH(QString, filter);
    QFETCH(QString, qt);
    QCOMPARE(FilterToQt(filter.toStdString()), qt);
  }
};

// ---------------------------------------------------------------------------

class ProgressDialogTest : public QObject {
  Q_OBJECT

 private:
  static void WriteFile(const QString& path, const QByteArray& text) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
  }

  static TRunParameters TwoConstantRows(const QString& dataFile, double density) {
    TRunParameters p;
    p.dataFile = dataFile.toStdString();
    p.layers = {{.elevation = {.constant = 0.0}}, {.elevation = {.constant = -1000.0}, .density = {.constant = density}}};
    p.rowCount = 2;
    p.increment = 10;
    return p;
  }

 private slots:
  void cleanup() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  void layout() {
    TfrmWt4 wt4;
    QCOMPARE(wt4.windowTitle(), QString("T4 (166735 m - All Globe)"));
    QCOMPARE(wt4.size(), QSize(312, 72));
    QCOMPARE(wt4.ProgressBar1->geometry(), QRect(16, 16, 281, 17));
    QCOMPARE(wt4.Button1->geometry(), QRect(216, 40, 81, 25));
    QCOMPARE(wt4.Button1->text(), QString("Cancel"));
    QVERIFY(!wt4.isModal());
  }

  void cancelRequest() {
    TfrmWt4 wt4;
    wt4.Show();
    QVERIFY(QTest::qWaitForWindowExposed(&wt4));
    QVERIFY(!wt4.TakeCancelRequest());
    QTest::mouseClick(wt4.Button1, Qt::LeftButton);
    QVERIFY(wt4.TakeCancelRequest());
    QVERIFY(!wt4.TakeCancelRequest());  // taken once
    // Escape does not hide a running dialog; closing it asks to cancel.
    QTest::keyClick(&wt4, Qt::Key_Escape);
    QVERIFY(wt4.isVisible());
    wt4.close();
    QVERIFY(wt4.isVisible());
    QVERIFY(wt4.TakeCancelRequest());
    wt4.Hide();
    QVERIFY(!wt4.isVisible());
  }

  // The run's numbers arrive converted: the same layers run under a point
  // locale and under a comma locale give the same result file, written
  // with decimal points.
  void runIsTheSameInEveryLocale() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString points = dir.filePath("pts.dat");
    WriteFile(points, "10.0 45.0 1 100.0\n11.5 46.25 2 0\n");
    const QString result = dir.filePath("pts_dce.dat");
    Recorder prompts;
    TfrmWt4 wt4;

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(wt4.RunCalculation(TwoConstantRows(points, 2.67), prompts), TRunOutcome::Completed);
    QFile pointFile(result);
    QVERIFY(pointFile.open(QIODevice::ReadOnly));
    const QByteArray withPoint = pointFile.readAll();
    pointFile.close();

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(wt4.RunCalculation(TwoConstantRows(points, 2.67), prompts), TRunOutcome::Completed);
    QVERIFY(pointFile.open(QIODevice::ReadOnly));
    const QByteArray withComma = pointFile.readAll();

    QVERIFY(prompts.messages.empty());
    QCOMPARE(withComma, withPoint);
    QCOMPARE(withPoint.count('\n'), 3);  // header and two points
    QVERIFY(!withPoint.contains(','));
    QCOMPARE(wt4.windowTitle(), QString("T4"));
    QVERIFY(!wt4.isVisible());
    QCOMPARE(wt4.ProgressBar1->maximum(), 2);
  }

  // A Cancel click made before the first point is answered after it.
  void cancelConfirmedAfterTheFirstPoint() {
    QTemporaryDir dir;
    const QString points = dir.filePath("pts.dat");
    WriteFile(points, "10 45 1 0\n11 45 2 0\n12 45 3 0\n");
    Recorder prompts;
    prompts.yesNoReplies = {true};
    TfrmWt4 wt4;
    wt4.Button1Click();
    QCOMPARE(wt4.RunCalculation(TwoConstantRows(points, 2.67), prompts), TRunOutcome::Cancelled);
    QCOMPARE(ToQt(prompts.questions), QStringList{"Cancel calculation?"});
    QFile f(dir.filePath("pts_dce.dat"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll().count('\n'), 2);  // header and the first point
    QVERIFY(!wt4.isVisible());
  }
};

// ---------------------------------------------------------------------------

class ZoneListTest : public QObject {
  Q_OBJECT

  const std::vector<TZoneRowText> kRows = {{"0", "0.5", "10"}, {"0.5", "180", "60"}};
  const std::vector<TZoneKeyText> kKeys = {{"zone1", "0;0.5;10"}, {"zone2", "0.5;180;60"}};

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  // The fields that zones replace, as a user sees them: "zones" and
  // disabled with the summary beside them, or their own texts, enabled,
  // without it.
  static void CheckZoneFields(const TWindows& w, const QString& summary, const QStringList& fieldTexts = {}) {
    const bool zoned = !summary.isEmpty();
    const QLineEdit* const fields[] = {w.main.TXT_T3DIST, w.main.TXT_T4DIST, w.main.txt_segment};
    for (int i = 0; i < 3; ++i) {
      QCOMPARE(fields[i]->text(), zoned ? QString("zones") : fieldTexts.value(i));
      QCOMPARE(fields[i]->isEnabled(), !zoned);
    }
    QCOMPARE(w.main.lbl_zones->isVisibleTo(&w.main), zoned);
    if (zoned) QCOMPARE(w.main.lbl_zones->text(), summary);
  }

  void zonesTakeTheSegmentField() {
    TWindows w;
    w.main.txt_segment->setText("45");
    w.main.TXT_T4DIST->setText("10");
    w.zones.typed = kRows;
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QCOMPARE(w.zones.runs, 1);
    QVERIFY(w.zones.seenRows.empty());
    QCOMPARE(w.main.Zones().keys, kKeys);
    CheckZoneFields(w, "2 zones, 0-180 deg, segments 10-60 sec");
    const TWindowState state = w.main.WindowToState();
    // Kept for the file and for later.
    QCOMPARE(state.innerDistanceDegText, std::string("0"));
    QCOMPARE(state.outerDistanceDegText, std::string("10"));
    QCOMPARE(state.segmentSizeArcSecText, std::string("45"));
    QCOMPARE(state.zones.keys, kKeys);

    // What Calc hands to the engine.
    TWindowState run = state;
    run.pointFile = "points.dat";
    run.layerRows = {{"0", "", "", ""}, {"-1000", "", "2.67", ""}};
    const TRunSetup setup = PrepareRun(run, '.');
    QVERIFY2(setup.ok(), setup.message.c_str());
    QCOMPARE(setup.params.zone, TZoneChoice(TZoneList{{{0, 0.5, 10}, {0.5, 180, 60}}}));

    // Cancel leaves the list; an emptied table gives the field back.
    w.zones.typed = {};
    w.zones.pressOk = false;
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QCOMPARE(w.zones.seenRows, kRows);
    QCOMPARE(w.main.Zones().keys, kKeys);
    w.zones.pressOk = true;
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QVERIFY(w.main.Zones().empty());
    CheckZoneFields(w, "", {"0", "10", "45"});
    QVERIFY(w.prompts.messages.empty());
  }

  // A preset takes the fields as a list does. What the fields keep
  // meanwhile follows the window's commands (Default) and comes back with
  // them; they are no longer checked on leaving, as they read "zones".
  void presetTakesTheZoneFields() {
    TWindows w;
    w.main.TXT_T3DIST->setText("2.5");
    w.zones.preset = "fine";
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QCOMPARE(w.main.Zones().keys, (std::vector<TZoneKeyText>{{"preset", "fine"}}));
    CheckZoneFields(w, "preset fine");
    w.main.CheckForNumber(w.main.TXT_T3DIST);
    w.main.CheckForNumber(w.main.TXT_T4DIST);
    QVERIFY(w.prompts.messages.empty());

    QTest::mouseClick(w.main.BTN_Default, Qt::LeftButton);
    CheckZoneFields(w, "preset fine");
    QCOMPARE(w.main.WindowToState().innerDistanceDegText, std::string("1.499444"));

    w.zones.preset = "";
    w.zones.typed = {};
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QVERIFY(w.main.Zones().empty());
    CheckZoneFields(w, "", {"1.499444", "180", "3600"});
  }

  // A settings file with both the fields and zones (an older window's
  // fields beside a [zones] section): the zones win, the fields keep the
  // file's texts through a save, and come back when the zones are cleared.
  void fileWithFieldsAndZones() {
    QTemporaryDir folder;
    QFile file(folder.filePath("app.ini"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[frmMain]\nt3dist=0.5\nt4dist=10\nsegsize=45\n"
               "[zones]\nzone1=0;1;7.5\nzone2=1;20;60\nzone3=20;180;3600\n");
    file.close();
    {
      TWindows w(test::TestSettings(folder.path()));
      CheckZoneFields(w, "3 zones, 0-180 deg, segments 7.5-3600 sec");
      TWindowState run = w.main.WindowToState();
      QCOMPARE(run.innerDistanceDegText, std::string("0.5"));
      QCOMPARE(run.outerDistanceDegText, std::string("10"));
      QCOMPARE(run.segmentSizeArcSecText, std::string("45"));
      run.pointFile = "points.dat";
      run.layerRows = {{"0", "", "", ""}, {"-1000", "", "2.67", ""}};
      const TRunSetup setup = PrepareRun(run, '.');
      QVERIFY2(setup.ok(), setup.message.c_str());
      QCOMPARE(setup.params.zone, TZoneChoice(TZoneList{{{0, 1, 7.5}, {1, 20, 60}, {20, 180, 3600}}}));
      w.main.SaveCfgFile();
    }
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    file.close();
    for (const char* key : {"\nt3dist=0.5\n", "\nt4dist=10\n", "\nsegsize=45\n", "\nzone3=20;180;3600\n"})
      QVERIFY2(saved.contains(key), key);

    TWindows w(test::TestSettings(folder.path()));
    CheckZoneFields(w, "3 zones, 0-180 deg, segments 7.5-3600 sec");
    w.zones.typed = {};
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    CheckZoneFields(w, "", {"0.5", "10", "45"});
  }

  void refusedListLeavesTheWindow() {
    TWindows w;
    w.zones.typed = {{"0", "1", "10"}, {"2", "180", "60"}};
    QTest::mouseClick(w.main.btn_zones, Qt::LeftButton);
    QCOMPARE(ToQt(w.prompts.messages),
             QStringList{"Zone row 2 starts at 2 degrees, but row 1 ends at 1 degrees: the zones leave a gap"});
    QVERIFY(w.main.Zones().empty());
    CheckZoneFields(w, "", {"0", "180", "3600"});
  }

  void zonesSurviveSaveAndLoad() {
    QTemporaryDir folder;
    {
      TWindows first(test::TestSettings(folder.path()));
      first.zones.typed = kRows;
      QTest::mouseClick(first.main.btn_zones, Qt::LeftButton);
      first.main.SaveCfgFile();
    }
    QFile file(folder.filePath("app.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("[zones]"));
    QVERIFY(text.contains("zone2=0.5;180;60"));

    TWindows second(test::TestSettings(folder.path()));
    QCOMPARE(second.main.Zones().keys, kKeys);
    CheckZoneFields(second, "2 zones, 0-180 deg, segments 10-60 sec");
    QTest::mouseClick(second.main.btn_zones, Qt::LeftButton);
    QCOMPARE(second.zones.seenRows, kRows);
  }
};

// ---------------------------------------------------------------------------

class PointGridWindowTest : public QObject {
  Q_OBJECT

  // 0..1 by 0.5 degrees: 3 columns; 45..45.5: 2 rows.
  const TPointGridFields kFields{"0", "1", "45", "45.5", "0.5", true, "100", false};
  const std::vector<TZoneKeyText> kKeys = {{"grid", "0;1;45;45.5;0.5"}, {"height", "surface+100"}, {"geotiff", "0"}};

  // The data file field as a user sees it: the grid summed up and
  // disabled with its "..." button, or the point file, enabled.
  static void CheckDataField(const TWindows& w, const QString& text, bool gridded) {
    QCOMPARE(w.main.dataPath->text(), text);
    QCOMPARE(w.main.dataPath->isEnabled(), !gridded);
    QCOMPARE(w.main.btn_path->isEnabled(), !gridded);
  }

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  // The grid replaces the point file, which is kept for the file and comes
  // back with "No grid"; Cancel changes nothing.
  void gridTakesTheDataFileField() {
    TWindows w;
    w.main.dataPath->setText("stations.dat");
    w.points.typed = kFields;
    QTest::mouseClick(w.main.btn_grid, Qt::LeftButton);
    QCOMPARE(w.points.runs, 1);
    QCOMPARE(w.points.seenFields, TPointGridFields{});
    QVERIFY(w.prompts.messages.empty());
    QCOMPARE(w.main.PointGrid().keys, kKeys);
    QCOMPARE(w.main.PointGrid().settingsFile, w.main.SettingsLocation().SaveFile().toStdString());
    CheckDataField(w, "grid 3 x 2 nodes, step 0.5 deg, height surface+100 m", true);
    QCOMPARE(w.main.WindowToState().pointFile, std::string("stations.dat"));

    w.points.typed.reset();
    w.points.press = test::TScriptedPoints::TPress::Cancel;
    QTest::mouseClick(w.main.btn_grid, Qt::LeftButton);
    QCOMPARE(w.points.seenFields, kFields);
    QCOMPARE(w.main.PointGrid().keys, kKeys);

    w.points.press = test::TScriptedPoints::TPress::NoGrid;
    QTest::mouseClick(w.main.btn_grid, Qt::LeftButton);
    QVERIFY(w.main.PointGrid().empty());
    CheckDataField(w, "stations.dat", false);
  }

  // A refused grid leaves the window as it was; the dialog's message is
  // the user's only word of it.
  void refusedGridChangesNothing() {
    TWindows w;
    w.main.dataPath->setText("stations.dat");
    w.points.typed = TPointGridFields{"0", "1", "45", "45.5", "0.3", false, "0", false};
    QTest::mouseClick(w.main.btn_grid, Qt::LeftButton);
    QCOMPARE(w.prompts.messages.size(), std::size_t(1));
    QVERIFY(w.prompts.messages[0].starts_with("grid=0;1;45;45.5;0.3 in "));
    QVERIFY(w.main.PointGrid().empty());
    CheckDataField(w, "stations.dat", false);
  }

  // Saved with the decimal point under a decimal comma, shown in the
  // user's format when the next window reads the file.
  void gridSurvivesSaveAndLoad() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTemporaryDir folder;
    {
      TWindows first(test::TestSettings(folder.path()));
      first.main.dataPath->setText("stations.dat");
      first.points.typed = TPointGridFields{"0", "1", "45", "45,5", "0,5", true, "100", false};
      QTest::mouseClick(first.main.btn_grid, Qt::LeftButton);
      QVERIFY(first.prompts.messages.empty());
      first.main.SaveCfgFile();
    }
    QFile file(folder.filePath("app.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.contains("[points]"));
    QVERIFY(text.contains("grid=0;1;45;45.5;0.5"));
    QVERIFY(text.contains("height=surface+100"));

    TWindows second(test::TestSettings(folder.path()));
    QCOMPARE(second.main.PointGrid().keys, kKeys);
    CheckDataField(second, "grid 3 x 2 nodes, step 0,5 deg, height surface+100 m", true);
    QCOMPARE(second.main.WindowToState().pointFile, std::string("stations.dat"));
    second.points.press = test::TScriptedPoints::TPress::Cancel;
    QTest::mouseClick(second.main.btn_grid, Qt::LeftButton);
    QCOMPARE(second.points.seenFields, (TPointGridFields{"0", "1", "45", "45,5", "0,5", true, "100", false}));
  }
};

// Every window fits the screen it opens on, whatever its size and scale
// factor: CTest runs this class on 1366 x 768 and 1600 x 1000 screens at
// scale factors 1, 1.5 and 2 (tests/app/screens/). Where the main window's
// design size does not fit, its page scrolls, keeps the design layout, and
// a control reached by the keyboard scrolls into view.
class ScreenFitTest : public QObject {
  Q_OBJECT

  // A window with the frame a window system adds around it.
  static QRect Framed(const QWidget& window) {
    return {window.pos(), window.size() + QSize(kFrameAllowanceWidthPx, kFrameAllowanceHeightPx)};
  }
  static QString Describe(const QWidget& window) {
    const QRect area = window.screen()->availableGeometry();
    const QRect framed = Framed(window);
    return QString("%1 at %2,%3 %4x%5 on a screen of %6x%7 at scale %8")
        .arg(window.objectName())
        .arg(framed.x()).arg(framed.y()).arg(framed.width()).arg(framed.height())
        .arg(area.width()).arg(area.height())
        .arg(window.devicePixelRatioF());
  }

 private slots:
  void mainWindowFits() {
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    const QRect area = w.main.screen()->availableGeometry();
    QVERIFY2(area.contains(Framed(w.main)), qPrintable(Describe(w.main)));
    const QSize design(TfrmMain::kDesignClientWidth, TfrmMain::kDesignClientHeight);
    if (area.width() >= design.width() + kFrameAllowanceWidthPx &&
        area.height() >= design.height() + kFrameAllowanceHeightPx) {
      QCOMPARE(w.main.size(), design);
      return;
    }
    // It can be made no smaller than the screen allows, and still larger.
    QVERIFY(w.main.minimumSize().width() <= area.width() && w.main.minimumSize().height() <= area.height());
    QCOMPARE(w.main.btn_Calc->pos(), QPoint(577, 679));  // the design layout, on the page
    auto* pageArea = w.main.findChild<QScrollArea*>("pageArea");
    QVERIFY(pageArea);
    QVERIFY(pageArea->verticalScrollBar()->isVisible() || pageArea->horizontalScrollBar()->isVisible());
    // Reached by the keyboard, Calc scrolls into view.
    const auto shown = [&](const QWidget* control) {
      const QRect where(control->mapTo(pageArea->viewport(), QPoint(0, 0)), control->size());
      return pageArea->viewport()->rect().contains(where);
    };
    w.main.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w.main));
    w.main.dataPath->setFocus(Qt::TabFocusReason);  // at the top of the page
    QTRY_VERIFY(shown(w.main.dataPath));
    QVERIFY(!shown(w.main.btn_Calc));
    w.main.btn_Calc->setFocus(Qt::TabFocusReason);
    QTRY_VERIFY(shown(w.main.btn_Calc));
  }

  void dialogsAndTheResultViewFit() {
    TWindows w;
    w.main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w.main));
    TResultView view(w.prompts, &w.main);
    for (QWidget* window : std::initializer_list<QWidget*>{&w.layer, &w.zones, &w.wt4, &view}) {
      window->show();
      QVERIFY(QTest::qWaitForWindowExposed(window));
      QVERIFY2(window->screen()->availableGeometry().contains(Framed(*window)), qPrintable(Describe(*window)));
      window->hide();
    }
  }
};

int main(int argc, char** argv) {
  return globelayers::test::RunSuites<MainWindowTest, LayerTableTest, ApplicationTest, ProgressDialogTest,
                                      ZoneListTest, PointGridWindowTest, ScreenFitTest>(argc, argv);
}

#include "AppTests.moc"

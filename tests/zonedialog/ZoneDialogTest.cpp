// The zone dialog driven through its real table offscreen: cells typed into
// the editor a double-click opens, the buttons pressed, the messages
// recorded.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

#include "RecordingPrompts.h"
#include "ZoneDialog.h"

using namespace globelayers;
using Recorder = test::TRecordingPrompts<>;
using TRows = std::vector<TZoneRowText>;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);

// Types `text` into cell (row, column) as a user does: opens its editor,
// replaces what it holds and leaves it with Tab, which opens the next cell.
void Type(TZoneDialog& dlg, int row, int column, const QString& text) {
  QTableWidget& table = *dlg.zoneTable;
  table.setCurrentCell(row, column);
  // An editor closed before is hidden until it is deleted; Add leaves one
  // open.
  const auto openEditor = [&] {
    QLineEdit* open = nullptr;
    for (auto* e : table.viewport()->findChildren<QLineEdit*>())
      if (e->isVisible()) open = e;
    return open;
  };
  if (openEditor() == nullptr) table.editItem(table.item(row, column));
  QLineEdit* editor = openEditor();
  QVERIFY(editor);
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Tab);
}

QStringList Lines(const std::vector<std::string>& texts) {
  QStringList lines;
  for (const auto& t : texts) lines << QString::fromStdString(t);
  return lines;
}

TZoneListText Keys(std::initializer_list<TZoneKeyText> keys, const std::string& file = "zones.ini") {
  return {file, keys};
}

}  // namespace

Q_DECLARE_METATYPE(TRows)

class ZoneDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(kEnglish); }

  void addEditDeleteReturnTheList() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones({}, "zones.ini");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QCOMPARE(dlg.zoneTable->rowCount(), 0);

    QTest::mouseClick(dlg.addButton, Qt::LeftButton);
    Type(dlg, 0, 0, "0");
    Type(dlg, 0, 1, "0.5");
    Type(dlg, 0, 2, "10");
    // The next row starts where the first ends.
    QTest::mouseClick(dlg.addButton, Qt::LeftButton);
    QCOMPARE(dlg.zoneTable->item(1, 0)->text(), QString("0.5"));
    Type(dlg, 1, 1, "3");
    Type(dlg, 1, 2, "60");
    QTest::mouseClick(dlg.addButton, Qt::LeftButton);
    Type(dlg, 2, 1, "180");
    Type(dlg, 2, 2, "300");
    Type(dlg, 1, 1, "2");  // a changed bound, with the row below mended too
    Type(dlg, 2, 0, "2");
    QTest::mouseClick(dlg.addButton, Qt::LeftButton);  // a stray row, deleted again
    dlg.zoneTable->setCurrentCell(3, 0);
    QTest::mouseClick(dlg.deleteButton, Qt::LeftButton);

    QTest::mouseClick(dlg.okButton, Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.Zones(), Keys({{"zone1", "0;0.5;10"}, {"zone2", "0.5;2;60"}, {"zone3", "2;180;300"}}));
  }

  void emptyTableMeansNoZones() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;180;60"}}), "zones.ini");
    QCOMPARE(dlg.Rows(), (TRows{{"0", "180", "60"}}));
    dlg.zoneTable->setCurrentCell(0, 1);
    dlg.DeleteClick();
    dlg.OkClick();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.Zones().empty());
  }

  void badListIsRefused_data() {
    QTest::addColumn<TRows>("rows");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a number") << TRows{{"0", "1", "10"}, {"1", "x2", "60"}}
                                  << "Zone row 2: To (deg) \"x2\" is not a number";
    QTest::newRow("empty") << TRows{{"0", "1", ""}} << "Zone row 1: Segment (\") is empty";
    QTest::newRow("beyond 180") << TRows{{"0", "190", "10"}}
                                << "Zone row 1: To (deg) 190 must lie within 0 to 180 degrees";
    QTest::newRow("no segment") << TRows{{"0", "1", "0"}} << "Zone row 1: Segment (\") 0 must be greater than 0";
    QTest::newRow("descending") << TRows{{"0", "1", "10"}, {"1", "0.5", "60"}}
                                << "Zone row 2: To (deg) 0.5 is not greater than From (deg) 1";
    QTest::newRow("gap") << TRows{{"0", "1", "10"}, {"1.5", "3", "60"}}
                         << "Zone row 2 starts at 1.5 degrees, but row 1 ends at 1 degrees: the zones leave a gap";
    QTest::newRow("overlap") << TRows{{"0", "1", "10"}, {"1", "3", "60"}, {"2", "5", "60"}}
                             << "Zone row 3 starts at 2 degrees, but row 2 ends at 3 degrees: the zones overlap";
  }
  void badListIsRefused() {
    QFETCH(TRows, rows);
    QFETCH(QString, message);
    Recorder prompts;
    TZoneDialog dlg(prompts);
    const TZoneListText before = Keys({{"zone1", "0;180;60"}});
    dlg.SetZones(before, "zones.ini");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    dlg.SetRows(rows);
    QTest::mouseClick(dlg.okButton, Qt::LeftButton);
    QCOMPARE(QString::fromStdString(prompts.messages.at(0)), message);
    QVERIFY(dlg.isVisible());  // open, for the user to mend the row
    QCOMPARE(dlg.Rows(), rows);
    QCOMPARE(dlg.Zones(), before);
  }

  void cellIsCheckedOnLeaving() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;180;60"}}), "zones.ini");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    Type(dlg, 0, 1, "200");
    Type(dlg, 0, 0, "abc");
    Type(dlg, 0, 2, "-5");
    QCOMPARE(Lines(prompts.messages),
             QStringList({"200 Is out of valid range", "abc Is not a number", "-5 Is out of valid range"}));
    // The refused cell is open again for mending.
    QCoreApplication::processEvents();
    int openEditors = 0;
    for (auto* e : dlg.zoneTable->viewport()->findChildren<QLineEdit*>()) openEditors += e->isVisible();
    QCOMPARE(openEditors, 1);
    QCOMPARE(dlg.zoneTable->currentRow(), 0);
    QCOMPARE(dlg.zoneTable->currentColumn(), 2);
  }

  void userDecimalSeparatorAndFileDecimalPoint() {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;0.25;7.5"}, {"zone2", "0.25;180;60"}}), "zones.ini");
    QCOMPARE(dlg.Rows(), (TRows{{"0", "0,25", "7,5"}, {"0,25", "180", "60"}}));
    dlg.SetRows({{"0", "1,5", "7,5"}, {"1,5", "180", "60"}});
    dlg.OkClick();
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.Zones(), Keys({{"zone1", "0;1.5;7.5"}, {"zone2", "1.5;180;60"}}));
  }

  // The Means check box travels as ";mean" on the zone's key, both ways.
  void blockMeansCheckBox() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;10;900"}, {"zone2", "10;180;3600;mean"}}), "zones.ini");
    QCOMPARE(dlg.Rows(), (TRows{{"0", "10", "900", false}, {"10", "180", "3600", true}}));
    QCOMPARE(dlg.zoneTable->item(1, TZoneDialog::kMeansColumn)->checkState(), Qt::Checked);
    dlg.zoneTable->item(0, TZoneDialog::kMeansColumn)->setCheckState(Qt::Checked);
    dlg.zoneTable->item(1, TZoneDialog::kMeansColumn)->setCheckState(Qt::Unchecked);
    dlg.OkClick();
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.Zones(), Keys({{"zone1", "0;10;900;mean"}, {"zone2", "10;180;3600"}}));
  }

  // A preset takes the table's place until (none) is chosen or a row added;
  // OK then gives the single key preset=NAME.
  void presetInPlaceOfTheTable() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;180;60"}}), "zones.ini");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QVERIFY(!dlg.zoneTable->isHidden());
    dlg.presetBox->setFocus();
    QTest::keyClick(dlg.presetBox, Qt::Key_Down);  // (none) -> the first preset
    QCOMPARE(dlg.Preset(), std::string("standard"));
    QVERIFY(dlg.zoneTable->isHidden());
    QVERIFY(!dlg.presetNote->isHidden());
    QVERIFY(dlg.presetNote->text().contains("standard"));
    dlg.OkClick();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.Zones(), Keys({{"preset", "standard"}}));

    dlg.SetZones(Keys({{"preset", "Fine"}}), "zones.ini");
    QCOMPARE(dlg.Preset(), std::string("fine"));
    QCOMPARE(dlg.presetBox->currentText(), QString("fine"));
    QVERIFY(dlg.zoneTable->isHidden());
    dlg.AddClick();  // back to the table, which kept its rows
    QVERIFY(!dlg.zoneTable->isHidden());
    QCOMPARE(dlg.presetBox->currentIndex(), 0);
    QVERIFY(dlg.Preset().empty());
    QCOMPARE(dlg.zoneTable->rowCount(), 1);
  }

  // The keyboard never traps: Tab and Ctrl+Tab leave the table (from a cell
  // being edited too, its text kept), Enter presses OK, Alt+C is Cancel.
  void keyboardLeavesTheTableAndPressesTheButtons() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    dlg.SetZones(Keys({{"zone1", "0;1;10"}, {"zone2", "1;180;300"}}), "zones.ini");
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    for (const Qt::KeyboardModifiers modifiers : {Qt::KeyboardModifiers(Qt::NoModifier), Qt::KeyboardModifiers(Qt::ControlModifier)}) {
      dlg.zoneTable->setFocus();
      dlg.zoneTable->setCurrentCell(1, 2);  // the last cell: a table that wraps goes back to the first
      QTest::keyClick(dlg.zoneTable, Qt::Key_Tab, modifiers);
      QVERIFY(!dlg.zoneTable->hasFocus());
    }
    Type(dlg, 1, 2, "600");  // typed, then left with Tab
    QVERIFY(!dlg.zoneTable->hasFocus());
    QCOMPARE(dlg.zoneTable->item(1, 2)->text(), QString("600"));

    dlg.zoneTable->setFocus();
    QTest::keyClick(dlg.zoneTable, Qt::Key_Return);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(prompts.questions.empty());
    QCOMPARE(dlg.Zones(), Keys({{"zone1", "0;1;10"}, {"zone2", "1;180;600"}}));

    dlg.SetZones(Keys({{"zone1", "0;180;60"}}), "zones.ini");
    dlg.show();
    dlg.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dlg));
    Type(dlg, 0, 2, "30");
    QTest::keyClick(&dlg, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(prompts.questions.empty());  // Cancel was chosen: nothing to ask
    QCOMPARE(dlg.Zones(), Keys({{"zone1", "0;180;60"}}));
  }

  // Escape throws typed rows away only when the user says so; a table left
  // as it was closes at once.
  void escapeAsksBeforeDiscardingEdits() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    const TZoneListText zones = Keys({{"zone1", "0;180;60"}});
    dlg.SetZones(zones, "zones.ini");
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible());
    QVERIFY(prompts.questions.empty());

    for (const bool discard : {false, true}) {
      dlg.SetZones(zones, "zones.ini");
      dlg.show();
      QVERIFY(QTest::qWaitForWindowExposed(&dlg));
      Type(dlg, 0, 2, "30");
      prompts.questions.clear();
      prompts.yesNoReplies = {discard};
      QTest::keyClick(&dlg, Qt::Key_Escape);
      QCOMPARE(Lines(prompts.questions), QStringList{TZoneDialog::kDiscardZonesQuestion});
      QCOMPARE(dlg.isVisible(), !discard);
      QCOMPARE(dlg.zoneTable->item(0, 2)->text(), QString("30"));
      QCOMPARE(dlg.Zones(), zones);
    }
  }

  void unreadableListIsReported() {
    Recorder prompts;
    TZoneDialog dlg(prompts);
    const TZoneListText bad = Keys({{"zone1", "0;1;x"}});
    dlg.SetZones(bad, "zones.ini");
    QCOMPARE(prompts.messages.size(), std::size_t(1));
    QVERIFY(prompts.messages[0].starts_with("Zone key zone1=0;1;x in zones.ini"));
    QCOMPARE(dlg.zoneTable->rowCount(), 0);
    dlg.CancelClick();
    QCOMPARE(dlg.Zones(), bad);
  }
};

QTEST_MAIN(ZoneDialogTest)
#include "ZoneDialogTest.moc"

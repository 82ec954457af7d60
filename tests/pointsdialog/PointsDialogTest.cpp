// The grid-of-points dialog driven offscreen: fields typed into, the
// buttons and keys pressed, the messages recorded, and the accepted section
// carried through a settings file and back.
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "PointsDialog.h"
#include "RecordingPrompts.h"
#include "RunSetup.h"

using namespace globelayers;
using Recorder = test::TRecordingPrompts<>;
using TKeys = std::vector<TZoneKeyText>;

namespace {

const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
const QLocale kGerman(QLocale::German, QLocale::Germany);

TPointGridText Points(TKeys keys, const std::string& file = "points.ini") { return {file, std::move(keys)}; }

// Replaces what `field` holds as a user does: focus, select all, type.
void Type(QLineEdit* field, const QString& text) {
  field->setFocus(Qt::OtherFocusReason);
  field->selectAll();
  QTest::keyClicks(field, text);
}

void Show(TPointsDialog& dlg) {
  dlg.show();
  dlg.activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(&dlg));
}

}  // namespace

Q_DECLARE_METATYPE(TKeys)
Q_DECLARE_METATYPE(TPointGridFields)

class PointsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(kEnglish); }

  // Typed with the user's separator, kept in the file with the point; the
  // height's two modes and the GeoTIFF choice give their keys.
  void typedFieldsBecomeKeys_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QStringList>("typed");  // west, east, south, north, step, height
    QTest::addColumn<bool>("aboveSurface");
    QTest::addColumn<bool>("geotiff");
    QTest::addColumn<TKeys>("keys");
    QTest::newRow("global, constant") << kEnglish << QStringList{"-180", "180", "-90", "90", "1", "10000"} << false
                                      << false
                                      << TKeys{{"grid", "-180;180;-90;90;1"}, {"height", "10000"}, {"geotiff", "0"}};
    QTest::newRow("decimal comma, surface") << kGerman << QStringList{"12,5", "13", "47", "47,25", "0,25", "2,5"}
                                            << true << true
                                            << TKeys{{"grid", "12.5;13;47;47.25;0.25"},
                                                     {"height", "surface+2.5"},
                                                     {"geotiff", "1"}};
    QTest::newRow("below the surface") << kEnglish << QStringList{"0", "2", "0", "1", "0.5", "-1.5"} << true
                                       << false
                                       << TKeys{{"grid", "0;2;0;1;0.5"}, {"height", "surface-1.5"}, {"geotiff", "0"}};
    QTest::newRow("blanks around") << kEnglish << QStringList{" 0", "2 ", "0", "1", "1", " 0 "} << false << false
                                   << TKeys{{"grid", "0;2;0;1;1"}, {"height", "0"}, {"geotiff", "0"}};
  }
  void typedFieldsBecomeKeys() {
    QFETCH(QLocale, locale);
    QFETCH(QStringList, typed);
    QFETCH(bool, aboveSurface);
    QFETCH(bool, geotiff);
    QFETCH(TKeys, keys);
    QLocale::setDefault(locale);
    Recorder prompts;
    TPointsDialog dlg(prompts);
    dlg.SetPoints({}, "points.ini");
    Show(dlg);
    QLineEdit* const fields[] = {dlg.westEdit, dlg.eastEdit, dlg.southEdit, dlg.northEdit, dlg.stepEdit,
                                 dlg.heightEdit};
    for (int i = 0; i < 6; ++i) Type(fields[i], typed[i]);
    if (aboveSurface) QTest::keyClick(&dlg, Qt::Key_A, Qt::AltModifier);
    if (geotiff) QTest::keyClick(&dlg, Qt::Key_G, Qt::AltModifier);
    // A mnemonic clicks its button a moment later, as a click shows.
    QTRY_COMPARE(dlg.surfaceButton->isChecked(), aboveSurface);
    QTRY_COMPARE(dlg.geotiffBox->isChecked(), geotiff);
    QTest::keyClick(dlg.heightEdit, Qt::Key_Return);  // the default button
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.Points(), Points(keys));
  }

  // The file's keys as the fields show them: its digits, the user's
  // separator, the height's mode split from its metres.
  void keysShownInFields_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<TKeys>("keys");
    QTest::addColumn<TPointGridFields>("fields");
    QTest::newRow("point") << kEnglish
                           << TKeys{{"grid", "-10.5;10.5;-5;5;0.5"}, {"height", "surface+100"}, {"geotiff", "1"}}
                           << TPointGridFields{"-10.5", "10.5", "-5", "5", "0.5", true, "100", true};
    QTest::newRow("comma") << kGerman << TKeys{{"grid", "0;1;0;0.25;0.125"}, {"height", "1500.75"}}
                           << TPointGridFields{"0", "1", "0", "0,25", "0,125", false, "1500,75", false};
    QTest::newRow("bare surface, key case") << kEnglish << TKeys{{"GRID", "0;1;0;1;1"}, {"Height", "Surface"}}
                                            << TPointGridFields{"0", "1", "0", "1", "1", true, "0", false};
    QTest::newRow("below the surface") << kGerman << TKeys{{"grid", "0;1;0;1;1"}, {"height", "surface-2.5"}}
                                       << TPointGridFields{"0", "1", "0", "1", "1", true, "-2,5", false};
  }
  void keysShownInFields() {
    QFETCH(QLocale, locale);
    QFETCH(TKeys, keys);
    QFETCH(TPointGridFields, fields);
    QLocale::setDefault(locale);
    Recorder prompts;
    TPointsDialog dlg(prompts);
    dlg.SetPoints(Points(keys), "points.ini");
    QVERIFY(prompts.messages.empty());
    QCOMPARE(dlg.Fields(), fields);
    QVERIFY(!dlg.Edited());
  }

  // A refused value leaves the dialog open with what was typed and the
  // section as it was.
  void refusedValueKeepsDialogOpen_data() {
    QTest::addColumn<TPointGridFields>("fields");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a number") << TPointGridFields{"0", "1x", "0", "1", "1", false, "0", false}
                                  << "Grid of points: East (deg) \"1x\" is not a number";
    QTest::newRow("empty step") << TPointGridFields{"0", "1", "0", "1", " ", false, "0", false}
                                << "Grid of points: Step (deg) is empty";
    QTest::newRow("comma under a point") << TPointGridFields{"0", "1", "0", "1", "1", false, "2,5", false}
                                         << "Grid of points: Height (m) \"2,5\" is not a number";
    QTest::newRow("inverted") << TPointGridFields{"10", "0", "0", "1", "1", false, "0", false}
                              << "grid=10;0;0;1;1 in points.ini: The grid of points runs from 10 to 0 degrees of "
                                 "longitude: the east edge must lie east of the west edge.";
    QTest::newRow("beyond a pole") << TPointGridFields{"0", "1", "80", "91", "1", false, "0", false}
                                   << "grid=0;1;80;91;1 in points.ini: The grid of points runs from 80 to 91 "
                                      "degrees of latitude, beyond a pole: latitudes lie within -90 to 90 degrees.";
    QTest::newRow("step does not divide") << TPointGridFields{"0", "1", "0", "1", "0.3", false, "0", false}
                                          << "grid=0;1;0;1;0.3 in points.ini: The step of 0.3 degrees does not "
                                             "divide the range from 0 to 1 degrees of the grid of points into "
                                             "whole steps.";
  }
  void refusedValueKeepsDialogOpen() {
    QFETCH(TPointGridFields, fields);
    QFETCH(QString, message);
    Recorder prompts;
    TPointsDialog dlg(prompts);
    const TPointGridText before = Points({{"grid", "0;1;0;1;1"}});
    dlg.SetPoints(before, "points.ini");
    Show(dlg);
    dlg.SetFields(fields);
    QTest::mouseClick(dlg.okButton, Qt::LeftButton);
    QCOMPARE(prompts.messages.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(prompts.messages[0]), message);
    QVERIFY(dlg.isVisible());
    QCOMPARE(dlg.Fields(), fields);
    QCOMPARE(dlg.Points(), before);
  }

  // Cancel and an answered Escape keep the section; "No grid" empties it
  // without a question, keeping the file it is saved to.
  void cancelEscapeAndNoGrid() {
    Recorder prompts;
    TPointsDialog dlg(prompts);
    const TPointGridText points = Points({{"grid", "0;1;0;1;1"}, {"height", "5"}});
    dlg.SetPoints(points, "points.ini");
    Show(dlg);
    Type(dlg.stepEdit, "0.5");
    QTest::keyClick(&dlg, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Rejected));
    QVERIFY(prompts.questions.empty());
    QCOMPARE(dlg.Points(), points);

    for (const bool discard : {false, true}) {
      dlg.SetPoints(points, "points.ini");
      Show(dlg);
      Type(dlg.northEdit, "2");
      prompts.questions.clear();
      prompts.yesNoReplies = {discard};
      QTest::keyClick(&dlg, Qt::Key_Escape);
      QCOMPARE(prompts.questions, std::vector<std::string>{TPointsDialog::kDiscardPointsQuestion});
      QCOMPARE(dlg.isVisible(), !discard);
      QCOMPARE(dlg.Points(), points);
    }
    dlg.SetPoints(points, "points.ini");
    Show(dlg);
    prompts.questions.clear();
    QTest::keyClick(&dlg, Qt::Key_Escape);  // nothing typed: closes at once
    QVERIFY(!dlg.isVisible());
    QVERIFY(prompts.questions.empty());

    dlg.SetPoints(points, "points.ini");
    Show(dlg);
    QTest::keyClick(&dlg, Qt::Key_R, Qt::AltModifier);
    QTRY_VERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(dlg.Points().empty());
    QCOMPARE(dlg.Points().settingsFile, std::string("points.ini"));
  }

  // A hand-edited section that does not convert is reported; the fields
  // show what could be read and Cancel keeps the section untouched.
  void unusableSectionIsReported() {
    Recorder prompts;
    TPointsDialog dlg(prompts);
    const TPointGridText bad = Points({{"grid", "0;1;0;1"}, {"height", "7"}});
    dlg.SetPoints(bad, "points.ini");
    QCOMPARE(prompts.messages.size(), std::size_t(1));
    QVERIFY(prompts.messages[0].starts_with("grid=0;1;0;1 in points.ini is not WEST;EAST;SOUTH;NORTH;STEP"));
    QCOMPARE(dlg.Fields(), (TPointGridFields{"0", "1", "0", "1", "", false, "7", false}));
    dlg.CancelClick();
    QCOMPARE(dlg.Points(), bad);
  }

  // What the dialog accepts under a decimal comma is saved with the point,
  // read back by a window of either separator, and shown as it was typed.
  void roundTripThroughSettingsFile() {
    QLocale::setDefault(kGerman);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string file = QDir(dir.path()).filePath("globelayers.ini").toStdString();
    Recorder prompts;
    TPointsDialog dlg(prompts);
    dlg.SetPoints({}, file);
    const TPointGridFields typed{"-0,5", "0,5", "45", "46,5", "0,25", true, "12,5", true};
    dlg.SetFields(typed);
    dlg.OkClick();
    QVERIFY(prompts.messages.empty());

    TWindowState saved = TWindowState::StartValues(',');
    saved.points = dlg.Points();
    QVERIFY(SaveCfgFile(saved, file, ','));
    TWindowState read = TWindowState::StartValues('.');
    QVERIFY(ReadCfgFile(read, file, '.'));
    QCOMPARE(read.points.keys, (TKeys{{"grid", "-0.5;0.5;45;46.5;0.25"}, {"height", "surface+12.5"}, {"geotiff", "1"}}));
    QVERIFY(ConvertPointGrid(read.points).ok());

    dlg.SetPoints(read.points, file);
    QCOMPARE(dlg.Fields(), typed);
    QVERIFY(prompts.messages.empty());
  }
};

QTEST_MAIN(PointsDialogTest)
#include "PointsDialogTest.moc"

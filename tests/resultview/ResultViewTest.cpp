// The result view offscreen, on result files written by the engine's own
// writer: where a station is drawn and in which colour, the colour bar's
// labels, the saved map and table, sorting and selection, and files it
// cannot read.
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <QXmlStreamReader>

#include <cmath>
#include <functional>

#include "GridFixtures.h"
#include "RecordingPrompts.h"
#include "GridContour.h"
#include "ResultFile.h"
#include "ResultLattice.h"
#include "ResultMap.h"
#include "ResultView.h"

using namespace globelayers;
using Recorder = test::TRecordingPrompts<>;

namespace {

struct TStation {
  double lon, lat, number, height, dte;
};

// Four stations, sums only without gradient; DTE of one sign unless
// `bothSigns`.
const TStation kStations[] = {
    {10.0, 40.0, 101, 350, 12.5},
    {14.0, 40.5, 102, 20, 30.25},
    {12.0, 42.0, 103, 1200, 18.0},
    {11.0, 41.0, 104, 5, 25.0},
};

QString WriteResult(const QTemporaryDir& dir, bool bothSigns = false, const QString& name = "r_dce.dat") {
  const TResultLayout L = MakeResultLayout(0, true, 3);
  std::string text = ResultHeader(L);
  for (const TStation& s : kStations) {
    const TCalcPoint p{.lambda = s.lon, .phi = s.lat, .pointNumber = s.number, .height = s.height};
    text += ResultLineEnd(L, p, {.dte = bothSigns ? s.dte - 20 : s.dte});
  }
  const QString path = dir.filePath(name);
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(QByteArray::fromStdString(text));
  return path;
}

QImage RenderMap(const TResultMap& map, QSize size) {
  QImage image(size, QImage::Format_ARGB32_Premultiplied);
  QPainter painter(&image);
  map.Render(painter, size);
  return image;
}

QRgb ToQRgb(TRgb c) { return qRgb(c.r, c.g, c.b); }

// A run over a grid of points as its text file holds it: 4 x 3 nodes, 1
// degree apart from 10 E, 40 N, written row by row from the south; DTE is
// 10 * column + row, so each node has its own colour.
QString WriteGridResult(const QTemporaryDir& dir) {
  const TResultLayout L = MakeResultLayout(0, true, 3);
  std::string text = ResultHeader(L);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) {
      const TCalcPoint p{.lambda = 10.0 + c, .phi = 40.0 + r, .pointNumber = double(r * 4 + c + 1), .height = 0};
      text += ResultLineEnd(L, p, {.dte = 10.0 * c + r});
    }
  const QString path = dir.filePath("grid_dce.dat");
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(QByteArray::fromStdString(text));
  return path;
}

// A table of longitudes and latitudes alone, for finding grids.
TResultTable PositionsTable(const std::vector<std::pair<double, double>>& places) {
  TResultTable t;
  t.columns.resize(5);
  for (const auto& [lon, lat] : places) t.values.insert(t.values.end(), {lon, lat, 0, 0, 0});
  return t;
}

void SendMouse(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButtons buttons) {
  QMouseEvent event(type, at, w.mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons,
                    Qt::NoModifier);
  QCoreApplication::sendEvent(&w, &event);
}

}  // namespace

class ResultViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

  // Each station's disc has the colour of its value, centred where the
  // projection puts it; east is right and north is up.
  void stationsSitAtTheirPlaceInTheirColour() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    QVERIFY(prompts.messages.empty());
    const QSize size(640, 420);
    const QImage image = RenderMap(*view.map, size);
    const TColourScale scale = view.map->Scale();
    QVERIFY(!scale.diverging);
    QCOMPARE(scale.minValue, 12.5);
    QCOMPARE(scale.maxValue, 30.25);
    for (std::size_t r = 0; r < std::size(kStations); ++r) {
      const QRgb colour = ToQRgb(ColourOf(scale, kStations[r].dte));
      const QPointF at = view.map->StationPixel(r, size);
      QCOMPARE(image.pixel(at.toPoint()), colour);
      // The pixels of that exact colour on the map (the colour bar right
      // of it has them too) gather round the computed place.
      double sx = 0, sy = 0;
      int n = 0;
      for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width() - 118; ++x)
          if (image.pixel(x, y) == colour) sx += x + 0.5, sy += y + 0.5, ++n;
      QVERIFY2(n >= 9, qPrintable(QString::number(n)));
      QVERIFY(std::abs(sx / n - at.x()) < 1.0);
      QVERIFY(std::abs(sy / n - at.y()) < 1.0);
    }
    const auto px = [&](int r) { return view.map->StationPixel(std::size_t(r), size); };
    QVERIFY(px(1).x() > px(0).x());  // 14 E east of 10 E
    QVERIFY(px(2).y() < px(0).y());  // 42 N north of 40 N
    // The extreme stations stay inside the map with a margin.
    QVERIFY(px(0).x() > 48 + 10 && px(1).x() < 640 - 118 - 10);
  }

  // Values of both signs: the diverging map, 0 in grey, the bar's ends
  // the column's minimum and maximum.
  void colourBarShowsTheColumnsRange() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir, true).toStdString(), true, ""));
    QCOMPARE(view.map->BarTitle(), QString("DTE [microGal]"));
    QCOMPARE(view.map->BarMinLabel(), QString("-7.50000"));
    QCOMPARE(view.map->BarMaxLabel(), QString("10.25000"));
    QVERIFY(view.map->Scale().diverging);
    const QImage image = RenderMap(*view.map, {640, 420});
    // Station 103 has DTE 18 - 20 = -2, station 104 has 5: neither grey, 0 would be.
    QCOMPARE(image.pixel(view.map->StationPixel(3, {640, 420}).toPoint()),
             ToQRgb(DivergingColour(0.5 + 5 / (2 * 10.25))));
    // The column choice recolours: the height runs from 5 to 1200 m.
    const int heightItem = view.cb_column->findText("Height [m]");
    QVERIFY(heightItem >= 0);
    view.cb_column->setCurrentIndex(heightItem);
    QCOMPARE(view.map->Column(), std::size_t(3));
    QCOMPARE(view.map->BarMinLabel(), QString("5.000"));
    QCOMPARE(view.map->BarMaxLabel(), QString("1200.000"));
    QVERIFY(!view.map->Scale().diverging);
  }

  void savedMapsAreWellFormed() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    const QString png = dir.filePath("map.png"), svg = dir.filePath("map.SVG");
    QVERIFY(view.SaveMap(png.toStdString(), {800, 500}));
    QCOMPARE(QImage(png).size(), QSize(800, 500));
    QVERIFY(view.SaveMap(svg.toStdString(), {800, 500}));
    QFile f(svg);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&f);
    QString root, viewBox;
    int circles = 0;
    while (!xml.atEnd()) {
      if (xml.readNext() != QXmlStreamReader::StartElement) continue;
      if (root.isEmpty()) root = xml.name().toString(), viewBox = xml.attributes().value("viewBox").toString();
      if (xml.name() == QLatin1String("circle") || xml.name() == QLatin1String("ellipse") ||
          xml.name() == QLatin1String("path"))
        ++circles;
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(root, QString("svg"));
    QCOMPARE(viewBox, QString("0 0 800 500"));
    QVERIFY(circles >= 4);
    QVERIFY(prompts.messages.empty());

    // Through the button and the picker; a folder that is not there is reported.
    prompts.saveReplies = {dir.filePath("button.png").toStdString(), dir.filePath("no/such/m.png").toStdString()};
    view.btn_saveMapClick();
    QVERIFY(QImage(dir.filePath("button.png")).width() >= 640);
    QCOMPARE(QString::fromStdString(prompts.savePicks[0].filter),
             QString("PNG image (*.png)|*.png|SVG drawing (*.svg)|*.svg"));
    view.btn_saveMapClick();
    QCOMPARE(prompts.messages.size(), std::size_t(1));
    QCOMPARE(QString::fromStdString(prompts.messages[0]),
             "Error by writing file " + dir.filePath("no/such/m.png"));
  }

  // Every number of the table comes back from the CSV, under a decimal-comma
  // locale too.
  void csvRoundTripKeepsEveryNumber() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    prompts.saveReplies = {dir.filePath("t.csv").toStdString()};
    view.btn_saveTableClick();
    QCOMPARE(QString::fromStdString(prompts.savePicks.at(0).defaultExt), QString("csv"));
    QFile f(dir.filePath("t.csv"));
    QVERIFY(f.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QString("Lambda [deg],Fi [deg],Point,Height [m],DTE [mGal]"));
    QCOMPARE(lines.size(), 1 + int(std::size(kStations)));
    const QLocale c = QLocale::c();
    for (int r = 0; r < int(std::size(kStations)); ++r) {
      const QStringList cells = lines[r + 1].split(',');
      const TStation& s = kStations[r];
      const double expected[] = {s.lon, s.lat, s.number, s.height, s.dte};
      QCOMPARE(cells.size(), 5);
      for (int k = 0; k < 5; ++k) {
        bool ok = false;
        QCOMPARE(c.toDouble(cells[k], &ok), expected[k]);
        QVERIFY(ok);
      }
    }
  }

  // Sorting by a column reorders the rows; selecting one highlights its
  // station, and clicking a station selects its row.
  void sortingAndSelection() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    view.resize(1000, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QAbstractItemModel* model = view.table->model();
    view.table->sortByColumn(4, Qt::DescendingOrder);
    QCOMPARE(model->index(0, 4).data().toString(), QString("30.25000"));
    QCOMPARE(model->index(3, 4).data().toString(), QString("12.50000"));
    QCOMPARE(model->index(0, 2).data().toString(), QString("102"));
    view.table->selectRow(2);  // 18.0, station 103, line 2 of the file
    QCOMPARE(view.map->Highlight(), std::optional<std::size_t>(2));
    // A click on station 101's disc.
    const QPointF at = view.map->StationPixel(0, view.map->size());
    QTest::mouseClick(view.map, Qt::LeftButton, {}, at.toPoint());
    QCOMPARE(view.table->currentIndex().row(), 3);
    QCOMPARE(view.map->Highlight(), std::optional<std::size_t>(0));
    // The hover text: number, place, height and every value of the line.
    QCOMPARE(view.map->StationText(1),
             QString("Point 102\nLambda 14.000000 deg, Fi 40.500000 deg\nHeight 20.000 m\nDTE 30.25000 mGal"));
    QCOMPARE(view.map->StationAt(at + QPointF(3, 0)), std::optional<std::size_t>(0));
    QCOMPARE(view.map->StationAt(at + QPointF(30, 30)), std::optional<std::size_t>());
  }

  // However narrow the table, the point number and the coloured column
  // come first, side by side, and within sight; the column choice moves
  // the new column there.
  void colouredColumnShowsBesideThePointNumber() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    const struct {
      int width;  // of the window, pixels
      const char* column;
      int logical;  // the column's index in the file
    } cases[] = {
        {1100, "DTE [mGal]", 4},
        {600, "DTE [mGal]", 4},
        {600, "Height [m]", 3},
        {420, "DTE [mGal]", 4},
    };
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (const auto& c : cases) {
      const QString name = QString("%1 at %2 px").arg(c.column).arg(c.width);
      view.resize(c.width, 500);
      view.cb_column->setCurrentIndex(view.cb_column->findText(c.column));
      QCoreApplication::processEvents();
      const QHeaderView* header = view.table->horizontalHeader();
      QVERIFY2(header->visualIndex(2) == 0, qPrintable(name));
      QVERIFY2(header->visualIndex(c.logical) == 1, qPrintable(name));
      const int right = header->sectionViewportPosition(c.logical) + header->sectionSize(c.logical);
      QVERIFY2(header->sectionViewportPosition(2) >= 0 && right <= view.table->viewport()->width(),
               qPrintable(name));
    }
    // The model keeps the file's order: the CSV and the sorting are untouched.
    QCOMPARE(view.table->model()->headerData(0, Qt::Horizontal).toString(), QString("Lambda [deg]"));
  }

  // Another file opened clears the selection: no station of the old file
  // stays ringed, nor a row of the new one chosen for it.
  void openingAnotherFileClearsTheSelection() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    view.resize(1000, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const struct {
      const char* how;
      std::function<void()> select;
    } cases[] = {
        {"row selected", [&] { view.table->selectRow(2); }},
        {"station clicked",
         [&] { QTest::mouseClick(view.map, Qt::LeftButton, {}, view.map->StationPixel(1, view.map->size()).toPoint()); }},
        {"row chosen by keys, the table keeping the focus",
         [&] {
           view.table->setFocus();
           QTRY_VERIFY(view.table->hasFocus());
           QTest::keyClick(view.table, Qt::Key_Down);
         }},
    };
    for (const auto& c : cases) {
      c.select();
      QVERIFY2(view.map->Highlight().has_value(), c.how);
      prompts.fileReplies = {WriteResult(dir, true, "other_dce.dat").toStdString()};
      view.btn_openClick();
      QVERIFY2(view.lbl_file->text().startsWith("other_dce.dat"), c.how);
      QCoreApplication::processEvents();
      QVERIFY2(!view.map->Highlight().has_value(), c.how);
      QVERIFY2(!view.table->selectionModel()->hasSelection(), c.how);
      QVERIFY2(!view.table->currentIndex().isValid(), c.how);
      const QImage image = RenderMap(*view.map, {640, 420});
      // No ring: the pixels just outside a disc are the map's, not black.
      for (std::size_t r = 0; r < std::size(kStations); ++r) {
        const QPointF at = view.map->StationPixel(r, {640, 420});
        QVERIFY2(image.pixel((at + QPointF(7, 0)).toPoint()) != qRgb(0, 0, 0), c.how);
      }
    }
  }

  // The wheel and the keys zoom and pan, never past a pole or beyond a
  // turn; Home resets; another file opens on all its stations.
  void wheelAndKeysZoomAndPan() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    view.resize(1000, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    TResultMap& map = *view.map;
    map.setFocus();
    QTRY_VERIFY(map.hasFocus());
    const TLonLatBox start = map.Visible();
    const double lonSpan = start.lonMaxDeg - start.lonMinDeg, latSpan = start.latMaxDeg - start.latMinDeg;
    const auto wheel = [&](QPointF at, int notches) {
      QWheelEvent event(at, map.mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
      QCoreApplication::sendEvent(&map, &event);
    };
    const QPointF centre = QRectF(map.rect()).center();
    const auto key = [&](Qt::Key k) { QTest::keyClick(&map, k); };
    const struct {
      const char* name;
      std::function<void()> act;
      TLonLatBox expected;  // after the action, from the start
    } steps[] = {
        // About the middle of the map, so the standard parallel stays.
        {"plus zooms in by 1.25", [&] { key(Qt::Key_Plus); },
         {start.lonMinDeg + lonSpan * 0.1, start.lonMaxDeg - lonSpan * 0.1, start.latMinDeg + latSpan * 0.1,
          start.latMaxDeg - latSpan * 0.1}},
        {"right pans a quarter of the width", [&] { key(Qt::Key_Right); },
         {start.lonMinDeg + lonSpan * 0.3, start.lonMaxDeg + lonSpan * 0.1, start.latMinDeg + latSpan * 0.1,
          start.latMaxDeg - latSpan * 0.1}},
        {"left pans back", [&] { key(Qt::Key_Left); },
         {start.lonMinDeg + lonSpan * 0.1, start.lonMaxDeg - lonSpan * 0.1, start.latMinDeg + latSpan * 0.1,
          start.latMaxDeg - latSpan * 0.1}},
        {"minus zooms out by 1.25", [&] { key(Qt::Key_Minus); }, start},
        {"Home resets", [&] { key(Qt::Key_Plus), key(Qt::Key_Up), key(Qt::Key_Home); }, start},
    };
    for (const auto& step : steps) {
      step.act();
      const TLonLatBox v = map.Visible();
      const double tolerance = 1e-9 * lonSpan;
      QVERIFY2(std::abs(v.lonMinDeg - step.expected.lonMinDeg) < tolerance, step.name);
      QVERIFY2(std::abs(v.lonMaxDeg - step.expected.lonMaxDeg) < tolerance, step.name);
      QVERIFY2(std::abs(v.latMinDeg - step.expected.latMinDeg) < tolerance, step.name);
      QVERIFY2(std::abs(v.latMaxDeg - step.expected.latMaxDeg) < tolerance, step.name);
    }
    QVERIFY(!map.IsZoomed());

    // The wheel keeps the station under the pointer where it is.
    const QPointF station = map.StationPixel(2, map.size());
    wheel(station, 3);
    QVERIFY(map.IsZoomed());
    QVERIFY((map.StationPixel(2, map.size()) - station).manhattanLength() < 1e-6);
    QVERIFY(map.Visible().lonMaxDeg - map.Visible().lonMinDeg < lonSpan / 1.9);

    // Far north and far out: the poles and one turn hold.
    for (int k = 0; k < 40; ++k) key(Qt::Key_Up), wheel(centre, -1);
    const TLonLatBox far = map.Visible();
    QVERIFY2(far.latMaxDeg <= 90 + 1e-9 && far.latMinDeg >= -90 - 1e-9, qPrintable(QString::number(far.latMaxDeg)));
    QVERIFY(far.lonMaxDeg - far.lonMinDeg <= 360 + 1e-9);

    QVERIFY(view.OpenFile(WriteResult(dir, true, "other_dce.dat").toStdString(), false, ""));
    QVERIFY(!map.IsZoomed());
  }

  // The relief is read in the background: opening a file does not wait for
  // it, it is drawn once read, and a view closed while it is read gives it
  // up without leaving a broken picture in the shared cache.
  void reliefIsReadInTheBackground() {
    QTemporaryDir dir;
    const std::string grid = dir.filePath("topo.grd").toStdString();
    testing_fixtures::WriteSurfer6(grid, 1500, 1500, 5, 20, 35, 47,
                                   [](double x, double y) { return float(100 * std::sin(x) * std::cos(y)); });
    Recorder prompts;
    const std::string result = WriteResult(dir).toStdString();
    {
      TResultView closed(prompts);
      QVERIFY(closed.OpenFile(result, false, grid));
      QVERIFY(!closed.map->HasRelief());  // it arrives through the event loop, never within OpenFile
    }  // gone while (or after) the grid is read
    TResultView view(prompts);
    QVERIFY(view.OpenFile(result, false, grid));
    view.WaitForRelief();
    QVERIFY(view.map->HasRelief());
    QCOMPARE(QString::fromStdString(view.ReliefGrid()), QString::fromStdString(grid));
    QVERIFY(prompts.messages.empty());

    // A grid that cannot be read leaves the map without relief, silently.
    QVERIFY(view.OpenFile(result, false, dir.filePath("missing.grd").toStdString()));
    view.WaitForRelief();
    QVERIFY(!view.map->HasRelief());
    QCOMPARE(view.ReliefGrid(), std::string());
    QVERIFY(prompts.messages.empty());
  }

  // The keyboard: the view opens on the colour choice, every control has
  // an accelerator, and Tab, Shift+Tab and Ctrl+Tab leave the table.
  void keyboardNeverTrapsInTheTable() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    view.resize(1000, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view.cb_column));

    const struct {
      Qt::Key key;
      Qt::KeyboardModifiers modifiers;
      const char* name;
    } leaves[] = {
        {Qt::Key_Tab, Qt::NoModifier, "Tab"},
        {Qt::Key_Backtab, Qt::ShiftModifier, "Shift+Tab"},
        {Qt::Key_Tab, Qt::ControlModifier, "Ctrl+Tab"},
        {Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier, "Ctrl+Shift+Tab"},
    };
    for (const auto& c : leaves) {
      view.table->setFocus();
      view.table->setCurrentIndex(view.table->model()->index(1, 1));
      QTRY_VERIFY(view.table->hasFocus());
      QTest::keyClick(view.table, c.key, c.modifiers);
      QVERIFY2(!view.table->hasFocus(), c.name);
    }

    // Alt+B reaches the colour choice through its label.
    view.table->setFocus();
    QTRY_VERIFY(view.table->hasFocus());
    QTest::keyClick(&view, Qt::Key_B, Qt::AltModifier);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(view.cb_column));
    for (QPushButton* button : {view.btn_open, view.btn_saveMap, view.btn_saveTable}) {
      QVERIFY2(button->text().contains('&'), qPrintable(button->text()));
    }

    // Closed with the focus in the table, it opens again on the colour choice.
    view.table->setFocus();
    QTRY_VERIFY(view.table->hasFocus());
    view.hide();
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(view.focusWidget(), static_cast<QWidget*>(view.cb_column));
  }

  // A file that is not a result file: the message names file and line, and
  // the view keeps what it showed.
  void unreadableFileIsReported() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    const QString bad = dir.filePath("bad_dce.dat");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(ResultHeader(MakeResultLayout(0, true, 2)).c_str());
    f.write("  1.0 2.0 3 4.0\n");
    f.close();
    QVERIFY(!view.OpenFile(bad.toStdString(), false, ""));
    // The reader's own message (its texts are the reader's test).
    const TResultRead refused = ReadResultFile(bad.toStdString(), false);
    QCOMPARE(refused.fault, TResultFault::ColumnCount);
    QCOMPARE(ToList(prompts.messages), QStringList{QString::fromStdString(refused.message)});
    QCOMPARE(view.Table()->RowCount(), std::size(kStations));

    // A whole file beside the run log of another run (with DTE(i) and
    // VGDRE): refused as well, the log's unit would not be the file's.
    const QString other = dir.filePath("other_dce.dat");
    QFile file(other);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(ResultHeader(MakeResultLayout(0, true, 2)).c_str());
    file.close();
    QFile log(dir.filePath("other_dce.con"));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("Increment: 1\nNumber of layer: 3\nOutput unit: mGal\n");
    log.close();
    prompts.messages.clear();
    QVERIFY(!view.OpenFile(other.toStdString(), false, ""));
    const TResultRead notOfRun = ReadResultFile(other.toStdString(), false, TResultShape{.gradient = true, .rowCount = 3});
    QCOMPARE(notOfRun.fault, TResultFault::HeaderNotOfRun);
    QCOMPARE(ToList(prompts.messages), QStringList{QString::fromStdString(notOfRun.message)});
    QCOMPARE(view.Table()->RowCount(), std::size(kStations));
  }

  // The run log beside the result file gives the unit and the first
  // layer's top grid, drawn as grey relief under the stations.
  // Stations form a grid only when every node of an evenly spaced lattice
  // is there once, whatever the order of the lines.
  void latticeIsFoundOnlyForAWholeEvenGrid() {
    const double third = 0.333333, twoThirds = 0.666667;  // 1/3 and 2/3 as printed with 6 decimals
    const struct {
      const char* name;
      std::vector<std::pair<double, double>> places;
      int columns, rows;  // 0: no grid
      double lonStep, latStep;
    } cases[] = {
        {"3 x 2, lines in any order", {{12, 40.5}, {10, 40}, {11, 40.5}, {12, 40}, {10, 40.5}, {11, 40}}, 3, 2, 1, 0.5},
        {"a third of a degree, rounded", {{0, 0}, {third, 0}, {twoThirds, 0}, {1, 0}, {0, 1}, {third, 1},
                                          {twoThirds, 1}, {1, 1}}, 4, 2, 1.0 / 3, 1},
        {"one node twice, one missing", {{10, 40}, {11, 40}, {10, 41}, {10, 41}}, 0, 0, 0, 0},
        {"uneven columns", {{0, 0}, {1, 0}, {3, 0}, {0, 1}, {1, 1}, {3, 1}}, 0, 0, 0, 0},
        {"one row", {{0, 0}, {1, 0}, {2, 0}, {3, 0}}, 0, 0, 0, 0},
        {"scattered stations", {{10, 40}, {14, 40.5}, {12, 42}, {11, 41}}, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
      const std::optional<TResultLattice> g = FindLattice(PositionsTable(c.places));
      QVERIFY2(g.has_value() == (c.columns > 0), c.name);
      if (!g) continue;
      QVERIFY2(g->columns == c.columns && g->rows == c.rows, c.name);
      QVERIFY2(std::abs(g->lonStepDeg - c.lonStep) < 1e-6 && std::abs(g->latStepDeg - c.latStep) < 1e-6, c.name);
    }
    // The node under a place: the one whose cell holds it, by its line.
    const std::optional<TResultLattice> g = FindLattice(PositionsTable(cases[0].places));
    QCOMPARE(g->RowAt(11.4, 40.3), std::optional<std::size_t>(2));   // 11 E, 40.5 N
    QCOMPARE(g->RowAt(9.6, 39.8), std::optional<std::size_t>(1));    // 10 E, 40 N
    QCOMPARE(g->RowAt(12.6, 40.0), std::optional<std::size_t>());    // east of the last cell
    QCOMPARE(g->RowAt(11.0, 40.8), std::optional<std::size_t>());    // north of the last cell
  }

  // A grid run's result is an image of cells: each node's cell has the
  // colour of its value up to halfway to the next node, no disc hides it,
  // and the node under the pointer is the one shown and picked.
  void gridResultShowsAsAnImage() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteGridResult(dir).toStdString(), false, ""));
    QVERIFY(view.map->Lattice().has_value());
    QCOMPARE(view.lbl_file->text(), QString("grid_dce.dat - grid of 4 x 3 nodes"));
    const QSize size(640, 420);
    const QImage image = RenderMap(*view.map, size);
    const TColourScale scale = view.map->Scale();
    QCOMPARE(scale.minValue, 0.0);
    QCOMPARE(scale.maxValue, 32.0);
    const auto colourOf = [&](int c, int r) { return ToQRgb(ColourOf(scale, 10.0 * c + r)); };
    // A cell reaches halfway to the next node (beyond the outer nodes too):
    // looked at off the node, where a graticule line could pass.
    const QPointF east = view.map->StationPixel(1, size) - view.map->StationPixel(0, size);
    const QPointF north = view.map->StationPixel(4, size) - view.map->StationPixel(0, size);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 4; ++c) {
        const QPointF at = view.map->StationPixel(std::size_t(r * 4 + c), size);
        for (const QPointF corner : {(east + north) * 0.45, (east - north) * 0.45, -(east + north) * 0.45,
                                     (north - east) * 0.45})
          QCOMPARE(image.pixel((at + corner).toPoint()), colourOf(c, r));
      }
    view.resize(900, 500);
    const QPointF node6 = view.map->StationPixel(6, view.map->size());  // 12 E, 41 N
    const QPointF node7 = view.map->StationPixel(7, view.map->size());
    QCOMPARE(view.map->StationAt(node6), std::optional<std::size_t>(6));
    QCOMPARE(view.map->StationAt(node6 + (node7 - node6) * 0.45), std::optional<std::size_t>(6));
    QCOMPARE(view.map->StationAt(node6 + (node7 - node6) * 0.55), std::optional<std::size_t>(7));
    QVERIFY(view.map->StationText(6).contains("Lambda 12.000000 deg, Fi 41.000000 deg"));
    QVERIFY(view.map->StationText(6).contains("DTE 21.00000 mGal"));
    // Panned a whole turn east, the grid shows again where it was, and
    // its cells are picked there.
    const TLonLatBox v = view.map->Visible();
    view.map->PanBy(360 / (v.lonMaxDeg - v.lonMinDeg), 0);
    QVERIFY(std::abs(view.map->Visible().lonMinDeg - (v.lonMinDeg + 360)) < 1e-9);
    QCOMPARE(view.map->StationAt(node6), std::optional<std::size_t>(6));
    const QPoint inCell6 = (node6 + (node7 - node6) * 0.3).toPoint() + QPoint(0, 3);
    QCOMPARE(RenderMap(*view.map, view.map->size()).pixel(inCell6), colourOf(2, 1));
    // Scattered stations stay discs.
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, ""));
    QVERIFY(!view.map->Lattice().has_value());
  }

  // Dragging with the left button pans: what was under the pointer stays
  // under it (within a pixel: a view moved north has its standard parallel
  // further north); only a press released where it began picks a station.
  void dragPansAndClickPicks() {
    QTemporaryDir dir;
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteGridResult(dir).toStdString(), false, ""));
    view.resize(1000, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    TResultMap& map = *view.map;
    const QPointF before = map.StationPixel(5, map.size());
    const QPointF delta(-60, 25);
    SendMouse(map, QEvent::MouseButtonPress, before, Qt::LeftButton);
    SendMouse(map, QEvent::MouseMove, before + delta / 2, Qt::LeftButton);
    SendMouse(map, QEvent::MouseMove, before + delta, Qt::LeftButton);
    SendMouse(map, QEvent::MouseButtonRelease, before + delta, Qt::NoButton);
    QVERIFY(map.IsZoomed());
    const QPointF after = map.StationPixel(5, map.size());
    QVERIFY2(std::abs(after.y() - (before + delta).y()) < 1e-6 && std::abs(after.x() - (before + delta).x()) < 1,
             qPrintable(QString("%1 %2 -> %3 %4").arg(before.x()).arg(before.y()).arg(after.x()).arg(after.y())));
    QCOMPARE(map.Highlight(), std::optional<std::size_t>());
    // A press that moves a pixel or two is still a click.
    const QPointF node2 = map.StationPixel(2, map.size());
    SendMouse(map, QEvent::MouseButtonPress, node2, Qt::LeftButton);
    SendMouse(map, QEvent::MouseMove, node2 + QPointF(2, 1), Qt::LeftButton);
    SendMouse(map, QEvent::MouseButtonRelease, node2 + QPointF(2, 1), Qt::NoButton);
    QCOMPARE(map.Highlight(), std::optional<std::size_t>(2));
    QVERIFY((map.StationPixel(2, map.size()) - node2).manhattanLength() < 1e-6);
  }

  // The first layer's top grid sets land apart from sea by its 0 m line,
  // drawn thin and dark over the result.
  void coastlineFromTheReliefGrid() {
    if (!ContourLinesAvailable()) QSKIP("a build without GDAL draws no coast");
    QTemporaryDir dir;
    const std::string grid = dir.filePath("topo.grd").toStdString();
    // Sea west of 11.5 E, land east of it.
    testing_fixtures::WriteSurfer6(grid, 31, 31, 5, 20, 35, 50, [](double x, double) { return float(100 * (x - 11.5)); });
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteGridResult(dir).toStdString(), false, grid));
    view.WaitForRelief();
    QVERIFY(!view.map->Coastline().empty());
    for (const TContourLine& line : view.map->Coastline())
      for (const TContourPoint& p : line) QVERIFY(std::abs(p.lonDeg - 11.5) < 1e-6);
    const QSize size(640, 420);
    const QImage image = RenderMap(*view.map, size);
    // Halfway between the nodes of 11 E and 12 E: the line, darker than both cells.
    const QPointF a = view.map->StationPixel(5, size), b = view.map->StationPixel(6, size);
    const QPoint mid = ((a + b) / 2).toPoint() + QPoint(0, 7);  // off the parallel of 41 N
    const int darkest = std::min({qGray(image.pixel(mid - QPoint(1, 0))), qGray(image.pixel(mid)),
                                  qGray(image.pixel(mid + QPoint(1, 0)))});
    const int cells = std::min(qGray(ToQRgb(ColourOf(view.map->Scale(), 11))), qGray(ToQRgb(ColourOf(view.map->Scale(), 21))));
    QVERIFY2(darkest < cells - 30, qPrintable(QString("%1 against %2").arg(darkest).arg(cells)));
    QCOMPARE(image.pixel((a + (b - a) * 0.3).toPoint() + QPoint(0, 7)), ToQRgb(ColourOf(view.map->Scale(), 11)));
  }

  void reliefAndUnitFromTheRunLog() {
    QTemporaryDir dir;
    const std::string grid = dir.filePath("topo.grd").toStdString();
    testing_fixtures::WriteSurfer6(grid, 30, 30, 5, 20, 35, 47,
                                   [](double x, double y) { return float(100 * std::sin(x) * std::cos(y)); });
    QFile log(dir.filePath("r_dce.con"));
    QVERIFY(log.open(QIODevice::WriteOnly));
    log.write("Output unit: microGal\nLayer 1: @ topo.grd @ @ \n");  // relative to the result's folder
    log.close();
    Recorder prompts;
    TResultView view(prompts);
    QVERIFY(view.OpenFile(WriteResult(dir).toStdString(), false, "/ignored.grd"));
    QCOMPARE(QString::fromStdString(view.ReliefGrid()), dir.filePath("topo.grd"));
    view.WaitForRelief();
    QVERIFY(view.map->HasRelief());
    QCOMPARE(view.map->BarTitle(), QString("DTE [microGal]"));
    const QImage image = RenderMap(*view.map, {640, 420});
    // Halfway between stations 101 and 102, off every disc: a grey of the relief.
    const QPointF a = view.map->StationPixel(0, {640, 420}), b = view.map->StationPixel(1, {640, 420});
    const QRgb relief = image.pixel(((a + b) / 2).toPoint());
    QCOMPARE(qRed(relief), qGreen(relief));
    QCOMPARE(qGreen(relief), qBlue(relief));
    QVERIFY(qRed(relief) >= 150 && qRed(relief) <= 245);
  }

 private:
  static QStringList ToList(const std::vector<std::string>& texts) {
    QStringList list;
    for (const auto& t : texts) list << QString::fromStdString(t);
    return list;
  }
};

QTEST_MAIN(ResultViewTest)
#include "ResultViewTest.moc"

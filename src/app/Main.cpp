#include "app/Main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGuiApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QScreen>
#include <QTableView>

#include "core/DateTime.h"
#include "dataset/SqliteTable.h"
#include "engine/QelStat.h"
#include "text/Qel2TXT.h"
#include "ui/DataSource.h"
#include "ui/QtWindowSystem.h"

namespace qel {

std::string ProgramDir() {
    QString dir = QCoreApplication::applicationDirPath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return QDir::toNativeSeparators(dir).toStdString();
}

TfrmMain::TfrmMain(std::string programDir, QWidget* parent)
    : QWidget(parent),
      tblLog(components_.Create<TSqliteTable>()),
      QelFromText1(components_.Create<TQelFromText>()),
      programDir_(std::move(programDir)) {
    components_.SetName("frmMain");
    tblLog.SetName("tblLog");
    QelFromText1.SetName("QelFromText1");

    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Norvast Qel: large file loading"));
    setFont(FormFont());
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect r(QPoint(), QSize(kClientWidth, kClientHeight));
        r.moveCenter(screen->availableGeometry().center());
        move(r.topLeft());
    }

    dSrcLog = new TDataSource(this);
    dSrcLog->setObjectName(QStringLiteral("dSrcLog"));
    dSrcLog->SetColumns(
        {{"Host", 149}, {"DateTime", 99}, {"Url", 161}, {"Code", -1}, {"Size", -1}, {"Ref", 144}});

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setModel(dSrcLog);
    DBGrid1->setWordWrap(false);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    DBGrid1->horizontalHeader()->setDefaultSectionSize(64);
    DBGrid1->horizontalHeader()->setHighlightSections(false);
    // Fixed row heights keep a table of millions of rows cheap to lay out.
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(17);
    DBGrid1->verticalHeader()->hide();
    auto applyWidths = [this] {
        for (int c = 0; c < dSrcLog->columnCount(); ++c) {
            const int w = dSrcLog->ColumnWidth(c);
            DBGrid1->setColumnWidth(c, w > 0 ? w : 64);
        }
    };
    QObject::connect(dSrcLog, &QAbstractItemModel::modelReset, DBGrid1, applyWidths);
    DBGrid1->setGeometry(0, 56, 688, kGridHeight);
    resize(kClientWidth, kClientHeight);

    btnImport = new QPushButton(QStringLiteral("Import Start"), this);
    btnImport->setObjectName(QStringLiteral("btnImport"));
    btnImport->setGeometry(192, 16, 100, 25);
    QObject::connect(btnImport, &QPushButton::clicked, this,
                     [this] { Guarded([this] { btnImportClick(); }); });

    btnAbout = new QPushButton(QStringLiteral("About Qel"), this);
    btnAbout->setObjectName(QStringLiteral("btnAbout"));
    btnAbout->setGeometry(296, 16, 100, 25);
    QObject::connect(btnAbout, &QPushButton::clicked, this,
                     [this] { Guarded([this] { btnAboutClick(); }); });

    // The stored settings of QelFromText1 (the others keep the component's defaults).
    TQelFromText& q = QelFromText1;
    q.SetAbortOnProblem(true);
    q.SetAnimatedStatus(true);
    TQelDataFormats& f = q.DataFormats();
    f.SetDateSeparator('/');
    f.SetTimeSeparator(':');
    f.SetFourDigitYear(true);
    f.SetLeadingZerosInDate(true);
    f.SetThousandSeparator(static_cast<char>(160));  // the no-break space
    f.SetDecimalSeparator(',');
    f.SetCurrencyString("$");
    f.SetBooleanTrue("True");
    f.SetBooleanFalse("False");
    f.SetUseRegionalSettings(false);
    q.SetDataSet(&tblLog);
    q.SetTitleStatus("Importing...");
    q.Statistic().SetTotalCount(0);
    q.Statistic().SetResult(irUnknown);
    q.SetUseDisplayNames(false);
    q.OnGetCellParams = [this](TQelBaseComponent& s, TField* field, Variant& value) {
        QelFromText1GetCellParams(s, field, value);
    };
    q.OnAfterRecordEvent = [this](TQelBaseComponent& s, bool& abort) {
        QelFromText1AfterRecordEvent(s, abort);
    };
    q.SetSourceFileName("Qel.TXT");
    q.SetFixed(false);
    q.SetRecordSeparatorCustom("\r\n");

    dSrcLog->SetDataSet(&tblLog);
    Guarded([this] { FormCreate(); });
}

TfrmMain::~TfrmMain() {
    Guarded([this] { FormDestroy(); });
    DBGrid1->setModel(nullptr);
    dSrcLog->SetDataSet(nullptr);
}

void TfrmMain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        WindowSystem().ShowError(e.what());
    }
}

void TfrmMain::FormCreate() {
    tblLog.SetDatabaseName(programDir_);
    tblLog.SetTableName("log.db");
    tblLog.Open();
}

void TfrmMain::FormDestroy() {
    tblLog.Close();
}

void TfrmMain::btnImportClick() {
    // The run pumps messages at every refresh of its dialog, so this button (or a click queued
    // before it was disabled) can come back here while a run is in progress: ignore it.
    if (importing_) return;
    importing_ = true;
    btnImport->setEnabled(false);
    struct Reset {
        TfrmMain& f;
        ~Reset() {
            f.importing_ = false;
            f.btnImport->setEnabled(true);
        }
    } reset{*this};

    TQelFromText& q = QelFromText1;
    q.SetOptions(q.Options().Exclude(soUseAnimatedControl));  // 1
    q.Statistic().SetUpdateStep(200);                         // 2
    q.Mappings().Clear();                                     // 3
    for (const char* line : {"Host=Field1", "DateTime=Field4", "URL=Field6", "Code=Field7",
                             "Size=Field8", "Ref=Field9"})
        q.Mappings().Add(line);
    q.SetSourceFileName(programDir_ + "log.txt");  // 4
    q.SetFieldDelimiterCustom(' ');                // 5
    q.SetTextQualifier(tqQuot);                    // 6
    q.SetRecordSeparator(rsLF);                    // 7
    q.SetMode(imAppend);                           // 8
    q.SetRowFirst(1);
    const std::uint64_t started = TickCountMs();  // 9
    q.Execute();
    const std::int64_t elapsed = MillisecondsSince(started);
    if (closeRequested_) {
        // The window was closed during the run: the run has been cancelled and has ended, so
        // the window can go now; nobody is left to read the time.
        closeRequested_ = false;
        importing_ = false;
        close();
        return;
    }
    WindowSystem().ShowInformation("Data loaded in " + std::to_string(elapsed) +  // 10
                                   " msec\r\n (1000 msec=1sec)");
}

void TfrmMain::QelFromText1GetCellParams(TQelBaseComponent&, TField* Field, Variant& Value) {
    if (!Field || Field->DataType() != ftInteger || !Value.IsText()) return;
    if (Value.TextValue().empty()) {
        Value = Variant(std::int32_t{0});
    } else if (Value.TextValue() == "-") {
        // An access log writes "-" for a size when no body was sent (every 304): no value,
        // rather than a text the integer field refuses, which would drop the whole request.
        Value = Variant::Null();
    }
}

void TfrmMain::QelFromText1AfterRecordEvent(TQelBaseComponent&, bool& Abort) {
    if (QelFromText1.Statistic().TotalImported() / 200 == 1) tblLog.FlushBuffers();
    // Closing the window stops the run even when it has no dialog to cancel.
    if (closeRequested_) Abort = true;
}

void TfrmMain::btnAboutClick() {
    QelFromText1.ShowAbout();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (importing_) {
        // Never close the table under a running import: cancel the run and close once
        // btnImportClick has seen it end.
        closeRequested_ = true;
        if (TfrmQelProcess* dialog = QelFromText1.ProgressDialog()) dialog->FormClose();
        event->ignore();
        return;
    }
    event->accept();
}

void TfrmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!DBGrid1) return;
    // The grid is aligned to the bottom: full width, its own height, bottom edge on the form's.
    DBGrid1->setGeometry(0, height() - kGridHeight, width(), kGridHeight);
}

}  // namespace qel

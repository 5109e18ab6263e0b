// The chart's "Export CSV…": the daily counts of the whole history, written
// as CSV to a file the operator picks.
#include "app/Thermography.h"

#include "store/CsvReport.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QSaveFile>
#include <QSqlDatabase>

void Thermography::on_defectWaveform_sigExportRequested()
{
    const QString suggested = QDir(QDir::homePath())
                                  .filePath(QStringLiteral("ardenix-daily-%1.csv")
                                                .arg(QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))));
    const QString path = QFileDialog::getSaveFileName(this, tr("导出CSV"), suggested, tr("CSV 文件 (*.csv)"));
    if (path.isEmpty())
        return;
    showTip(exportDailyCsv(path) ? tr("导出成功") : tr("导出失败"), TipMs, false);
}

bool Thermography::exportDailyCsv(const QString& path)
{
    // All or nothing: a half-written report never replaces an older one.
    QSaveFile file(path);
    // The counts of a screening station are the user's only, whatever file
    // this replaces.
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    QString error;
    if (!CsvReport::writeDaily(QSqlDatabase::database(), file, CsvReport::DateRange(), &error)) {
        qDebug() << "export" << path << error;
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

#include "ui/jobstatustexts.h"

namespace JobStatusTexts {

namespace {
QString percentText(const QString &label, double percent)
{
    return QStringLiteral("%1:%2%").arg(label).arg(percent, 0, 'f', 1);
}
} // namespace

QString buttonText(const JobStatus &status)
{
    switch (status.kind) {
    case JobStatus::Kind::Ready:
        return QStringLiteral("开始转换");
    case JobStatus::Kind::Authenticating:
        return QStringLiteral("认证中...");
    case JobStatus::Kind::FileBegun:
        return QStringLiteral("转换中...");
    case JobStatus::Kind::Preparing:
        return QStringLiteral("预处理...");
    case JobStatus::Kind::Resuming:
        return QStringLiteral("续转:第%1段").arg(status.done + 1);
    case JobStatus::Kind::NotKeeping:
        return QStringLiteral("不保存进度...");
    case JobStatus::Kind::Cutting:
        return percentText(
            QStringLiteral("分割"), status.count > 0 ? status.done * 100.0 / status.count : 0.0);
    case JobStatus::Kind::Uploading:
        // Nothing to send is all sent.
        return percentText(
            QStringLiteral("转写"), status.count > 0 ? status.done * 100.0 / status.count : 100.0);
    case JobStatus::Kind::Retrying:
        return QStringLiteral("重申请: %1秒").arg(status.seconds);
    }
    return QString();
}

} // namespace JobStatusTexts

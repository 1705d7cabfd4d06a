#include "asr/jobnotices.h"

#include "asr/recognitionreply.h"
#include "asr/transcriptionsapi.h"

namespace JobNotices {

QString text(const JobFailure &failure)
{
    switch (failure.kind) {
    case JobFailure::Kind::NoTasks:
        return QStringLiteral("请先添加需要转换的文件！");
    case JobFailure::Kind::CaFileUnreadable:
        return QStringLiteral("无法读取证书文件 %1，请在服务设置中检查！").arg(failure.path);
    case JobFailure::Kind::ToolMissing:
        return QStringLiteral("未找到ffmpeg程序，无法处理音频！");
    case JobFailure::Kind::ConversionFailed:
        return QStringLiteral("音频转换失败，请检查文件是否完整！");
    case JobFailure::Kind::DurationUnknown:
        return QStringLiteral("无法读取音频时长，请检查文件格式！");
    case JobFailure::Kind::CutFailed:
        return QStringLiteral("音频分割失败！");
    case JobFailure::Kind::NoAnswer:
        return QStringLiteral("转换失败，请检查网络信号是否充足！");
    case JobFailure::Kind::TokenFailed:
        return QStringLiteral("获取访问令牌失败，请检查网络连接是否断开！");
    case JobFailure::Kind::TokenTimedOut:
        return QStringLiteral("获取访问令牌超时！");
    case JobFailure::Kind::CertificateRefused:
        return TranscriptionsApi::tlsFailureText(failure.path, failure.reason);
    case JobFailure::Kind::ServiceNotStarted:
        return failure.reason;
    case JobFailure::Kind::TokenAddressRefused:
        return QStringLiteral("令牌地址%1是本机语音服务的端口，只有语音服务也在本机时才能使用！")
            .arg(failure.path);
    case JobFailure::Kind::ServiceRefused:
        return messageForErrNo(failure.errNo);
    case JobFailure::Kind::UnknownErrNo:
        return QStringLiteral("语音识别出错（错误码：%1）！").arg(failure.errNo);
    case JobFailure::Kind::Unrecognisable:
        return QStringLiteral("语音服务返回了无法识别的数据！");
    case JobFailure::Kind::ServiceReported:
        return QStringLiteral("语音服务报告错误：%1").arg(failure.reason);
    case JobFailure::Kind::CredentialsRefused:
        return TranscriptionsApi::credentialsRefusedText();
    case JobFailure::Kind::UploadTooLarge:
        return TranscriptionsApi::tooLargeText();
    case JobFailure::Kind::NoTranscriptionsApi:
        return QStringLiteral("该地址没有提供语音转写接口，请在服务设置中检查服务地址与类型！");
    case JobFailure::Kind::HttpRefused:
        return failure.reason.isEmpty()
            ? QStringLiteral("语音服务拒绝了请求（HTTP %1）！").arg(failure.httpStatus)
            : QStringLiteral("语音服务拒绝了请求（HTTP %1）：%2")
                  .arg(failure.httpStatus)
                  .arg(failure.reason);
    case JobFailure::Kind::TranscriptNotSaved:
        return QStringLiteral("转写文本保存失败，请检查文件夹是否可写！");
    case JobFailure::Kind::TranscriptIsLink:
        return QStringLiteral("转写文本%1是符号链接，为安全起见不写入！").arg(failure.path);
    }
    return QString();
}

} // namespace JobNotices

#include "ui/OutcomeTexts.h"

#include <QStringList>
#include <algorithm>
#include <map>

namespace qm::ui {

namespace {

constexpr int kMaxDetail = 120;

// A system or curl text as one short line.
QString Detail(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    for (QChar& c : s)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) c = u' ';
    s = s.simplified();
    if (s.size() > kMaxDetail) s = s.left(kMaxDetail - 1) + QChar(0x2026);
    return s;
}

QString WithDetail(const QString& head, const std::string& detail) {
    const QString d = Detail(detail);
    return d.isEmpty() ? head : head + QStringLiteral("：") + d;
}

}  // namespace

QString AlbumReasonText(AlbumReason reason, const std::string& detail) {
    switch (reason) {
        case AlbumReason::None:
            return {};
        case AlbumReason::NoAccess:
            return QStringLiteral("无权访问");
        case AlbumReason::Password:
            return QStringLiteral("密码未提供或不正确");
        case AlbumReason::Empty:
            return QStringLiteral("相册为空");
        case AlbumReason::RateLimited:
            return QStringLiteral("限流");
        case AlbumReason::LoginNeeded:
            return QStringLiteral("需要登录");
        case AlbumReason::Network:
            return WithDetail(QStringLiteral("网络错误"), detail);
        case AlbumReason::Stopped:
            return QStringLiteral("已终止");
        case AlbumReason::Unwritable:
            return WithDetail(QStringLiteral("无法创建相册文件夹"), detail);
    }
    return {};
}

QString FailureText(const Failure& f) {
    switch (f.kind) {
        case FailureKind::None:
            return {};
        case FailureKind::HttpStatus:
            return QStringLiteral("HTTP %1").arg(f.httpStatus);
        case FailureKind::Timeout:
            return QStringLiteral("超时");
        case FailureKind::SizeLimit:
            return QStringLiteral("大小超出限制");
        case FailureKind::WriteError:
            return WithDetail(QStringLiteral("写入失败"), f.text);
        case FailureKind::Connection:
            return WithDetail(QStringLiteral("连接失败"), f.text);
        case FailureKind::Stopped:
            return QStringLiteral("已终止");
        case FailureKind::Unsafe:
            return QStringLiteral("保存路径不安全");
        case FailureKind::RateLimited:
            return QStringLiteral("限流");
        case FailureKind::DiskFull:
            return QStringLiteral("磁盘已满");
        case FailureKind::NotAPicture:
            return WithDetail(QStringLiteral("不是图片"), f.text);
        case FailureKind::Other:
            return WithDetail(QStringLiteral("其他错误"), f.text);
        case FailureKind::FilmNotReady:
            return QStringLiteral("视频未就绪");
        case FailureKind::FilmStreamOnly:
            return QStringLiteral("只有在线播放地址");
    }
    return {};
}

QString AlbumOutcomeText(const AlbumOutcome& a) {
    QStringList parts;
    if (a.reason != AlbumReason::None) parts << AlbumReasonText(a.reason, a.reasonText);
    // Failed pictures grouped by their text, in the order the causes first appear.
    QStringList order;
    std::map<QString, int> counts;
    for (const PictureOutcome& p : a.failures) {
        const QString t = FailureText(p.failure);
        if (t.isEmpty()) continue;
        if (counts[t]++ == 0) order << t;
    }
    for (const QString& t : order) parts << QStringLiteral("%1 %2 张").arg(t).arg(counts[t]);
    if (order.isEmpty() && a.failed > 0) parts << QStringLiteral("失败 %1 张").arg(a.failed);
    if (a.reason == AlbumReason::None && a.NotListed() > 0) parts << QStringLiteral("%1 张未列出").arg(a.NotListed());
    return parts.join(QStringLiteral("；"));
}

QString PostsText(const PostTally& t) {
    if (t.listed == 0 && t.kept == 0) return {};
    QString out = QStringLiteral("说说 %1 条").arg(t.listed);
    if (t.added > 0) out += QStringLiteral("，新增 %1 条").arg(t.added);
    if (t.refreshed > 0) out += QStringLiteral("，更新 %1 条").arg(t.refreshed);
    if (t.kept > t.listed) out += QStringLiteral("，共存 %1 条").arg(t.kept);
    if (t.cutTexts > 0) out += QStringLiteral("，%1 条未取到全文").arg(t.cutTexts);
    if (!t.error.empty()) out += WithDetail(QStringLiteral("，说说未能保存"), t.error);
    return out;
}

QString MoodCountText(const AlbumOutcome& a) {
    return QStringLiteral("%1 条说说 / %2 张").arg(std::max(a.posts.kept, a.posts.listed)).arg(a.saved + a.alreadyHad);
}

std::size_t PicturesLeftByStop(const JobOutcome& job) {
    std::size_t left = 0;
    for (const AlbumOutcome& a : job.albums) {
        if (a.listOnly) continue;
        if (a.listed == 0 && a.reason == AlbumReason::Stopped) {
            left += a.expected > 0 ? static_cast<std::size_t>(a.expected) : 0;  // never reached
            continue;
        }
        left += a.notTried;
        for (const PictureOutcome& p : a.failures)
            if (p.failure.kind == FailureKind::Stopped) ++left;
    }
    return left;
}

QString StoppedSuffix(const JobOutcome& job) {
    if (!job.stopped) return {};
    const std::size_t left = PicturesLeftByStop(job);
    if (left == 0) return QStringLiteral("（已终止）");
    return QStringLiteral("（已终止，%1 张未下载）").arg(left);
}

QString FinishedStatus(const JobOutcome& job, bool stopPressed) {
    const QString done = QStringLiteral("下载完毕");
    if (job.error != JobError::None) return done;
    bool allComplete = !job.albums.empty();
    std::size_t incomplete = 0, missing = 0;
    for (const AlbumOutcome& a : job.albums) {
        if (a.Complete()) continue;
        allComplete = false;
        ++incomplete;
        missing += a.failed + a.notTried + a.NotListed();
    }
    // A stop that reached the job only after its last picture changed nothing.
    if (allComplete && (stopPressed || job.stopped)) return done + QStringLiteral("（终止前已全部下载完成）");
    if (job.stopped) return done + StoppedSuffix(job);
    if (incomplete == 0) return done;
    if (missing == 0) return done + QStringLiteral("（%1 个相册不完整）").arg(incomplete);
    return done + QStringLiteral("（%1 个相册不完整，%2 张未下载）").arg(incomplete).arg(missing);
}

bool NeedsResultBox(const JobOutcome& job) {
    if (job.error != JobError::None) return false;
    for (const AlbumOutcome& a : job.albums) {
        for (const PictureOutcome& p : a.failures)
            if (p.failure.kind != FailureKind::Stopped) return true;
        if (a.failed > a.failures.size()) return true;
        if (a.reason != AlbumReason::None && a.reason != AlbumReason::Stopped) return true;
        if (!a.posts.error.empty()) return true;
        if (!job.stopped && !a.Complete()) return true;
    }
    return false;
}

}  // namespace qm::ui

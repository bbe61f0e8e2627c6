// The QQ login pages: a plain HTML form on the login host; its submit sets the .qq.com login cookies
// and sends the browser on to the QZone signature check, which sets the .qzone.qq.com cookies (a host
// may only set cookies for its own domain, so the two sets come from two hosts as on the real service).
#include <cstdio>

#include "sim/Answer.h"
#include "sim/ServiceAnswers.h"
#include "sim/Simulator.h"

namespace qm::sim {
namespace {

std::string UinCookieValue(const std::string& uin) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "o%010llu", std::stoull(uin));
    return buf;
}

std::string Signature(const Account& a) {
    return std::to_string(QZoneToken(a.uin + "/" + a.skey + "/sig"));
}

std::string CookieLine(const std::string& name, const std::string& value, const std::string& domain,
                       bool persistent) {
    std::string line = name + "=" + value + "; Path=/; Domain=" + domain;
    if (persistent) line += "; Max-Age=2592000";
    return line;
}

}  // namespace

Answer LoginFormAnswer(const SimRequest& r, const std::string& error) {
    std::string surl = r.Param("s_url");
    if (surl.empty()) surl = "http://user.qzone.qq.com/";
    std::string body = "<h1>QQ登录</h1>\n";
    if (!error.empty()) body += "<p id=\"error\">" + HtmlEscape(error) + "</p>\n";
    body +=
        "<form id=\"loginform\" method=\"post\" action=\"/cgi-bin/login\">\n"
        "<p><label>QQ号码 <input type=\"text\" name=\"u\" id=\"u\"></label></p>\n"
        "<p><label>密码 <input type=\"password\" name=\"p\" id=\"p\"></label></p>\n"
        "<p><label><input type=\"checkbox\" name=\"remember\" id=\"remember\" value=\"1\"> "
        "下次自动登录</label></p>\n"
        "<input type=\"hidden\" name=\"s_url\" value=\"" +
        HtmlEscape(surl) +
        "\">\n"
        "<p><button type=\"submit\" id=\"login_button\">登 录</button></p>\n</form>";
    return HtmlAnswer(200, "QQ登录", body);
}

Answer LoginSubmitAnswer(const ScenarioModel& m, const SimRequest& r) {
    const std::string uin = NormalizeUin(r.Param("u"));
    const Account* a = m.FindAccount(uin);
    if (!a || r.Param("p") != a->password)
        return LoginFormAnswer(r, "您输入的帐号或密码不正确，请重新输入。");
    const bool keep = r.Param("remember") == "1";
    const std::string o = UinCookieValue(a->uin);
    Answer ans = HtmlAnswer(302, "QQ登录", "<p>正在跳转…</p>");
    ans.headers.emplace_back("Set-Cookie", CookieLine("uin", o, ".qq.com", keep));
    ans.headers.emplace_back("Set-Cookie", CookieLine("skey", a->skey, ".qq.com", keep));
    ans.headers.emplace_back("Set-Cookie", CookieLine("pt2gguin", o, ".qq.com", keep));
    std::string surl = r.Param("s_url");
    std::string loc = "http://ptlogin2.qzone.qq.com/check_sig?uin=" + a->uin + "&ptsigx=" + Signature(*a) +
                      (keep ? "&remember=1" : "");
    ans.headers.emplace_back("Location", loc);
    return ans;
}

Answer CheckSigAnswer(const ScenarioModel& m, const SimRequest& r) {
    const Account* a = m.FindAccount(NormalizeUin(r.Param("uin")));
    if (!a || r.Param("ptsigx") != Signature(*a)) {
        return HtmlAnswer(403, "QQ登录", "<p id=\"error\">登录校验失败，请重新登录</p>");
    }
    const bool keep = r.Param("remember") == "1";
    Answer ans =
        HtmlAnswer(200, "登录成功",
                   "<h1 id=\"result\">登录成功</h1>\n<p>logged in: " + a->uin +
                       "</p>\n<p>登录成功后手动关闭此窗口。</p>\n<p><a href=\"http://user.qzone.qq.com/" +
                       a->uin + "\">进入QQ空间</a></p>");
    ans.headers.emplace_back("Set-Cookie",
                             CookieLine("p_uin", UinCookieValue(a->uin), ".qzone.qq.com", keep));
    ans.headers.emplace_back("Set-Cookie", CookieLine("p_skey", a->pskey, ".qzone.qq.com", keep));
    return ans;
}

// The login row of the simulator's table of services.
static std::optional<Answer> LoginRoute(const ScenarioModel& m, const SimRequest& r, PasswordBook&) {
    if (r.host == "xui.ptlogin2.qq.com") {
        if (r.path == "/cgi-bin/login" && r.params.count("u")) return LoginSubmitAnswer(m, r);
        return LoginFormAnswer(r, "");
    }
    if (r.host == "ptlogin2.qzone.qq.com" && r.path == "/check_sig") return CheckSigAnswer(m, r);
    return std::nullopt;
}

ServiceAnswers LoginAnswers() {
    return {"login", &LoginRoute, nullptr};
}

}  // namespace qm::sim

#include "ui/DlgSaveSet.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "ui/MessageBox.h"

namespace qm::ui {

QString NamingHelpText() {
    return QStringLiteral(
        "设置前后缀，可以在图片本来的文件名前后加上指定的字符\n如：图片本来的文件名为：pic01."
        "jpg，如果前缀为空，"
        "后缀为_com\n则最后图片名将变为pic01_com.jpg\n"
        "如果前缀为www_，后缀为_com\n则最后图片名将变为www_pic01_com.jpg\n"
        "相册名那里前后缀一样\n同时，支持转义字符，当前后缀中含有转义字符时，程序会将转义字符转换为转义字符所"
        "表示的"
        "字符串\n"
        "转义字符如下（问号为英文的问号，相册名的转义字符只支持?1,?3,?9）：\n"
        "?1:相册名称\n?2:图片在相册中的序号\n?3:相册在列表中的序号(格式为：1,2,3...)\n?4:相册在列表中的序号("
        "倒序)\n"
        "?5:相册创建时间(仅QQ群相册有效)\n?6:选中的相册数\n?7:总共的相册数(选中的+未选中的)\n"
        "?9:相册在列表中的序号(格式为：0001,0002,0003...)");
}

namespace {
ProfileText* FieldOf(SiteProfile& p, int i) {
    ProfileText* const fields[6] = {&p.NamePrefix, &p.NameSuffix,   &p.ReplaceFrom,
                                    &p.ReplaceTo,  &p.FolderPrefix, &p.FolderSuffix};
    return fields[i];
}
}  // namespace

CDlgSaveSet::CDlgSaveSet(SiteProfile& profile, QWidget* parent) : QDialog(parent), profile_(profile) {
    setWindowTitle(QStringLiteral("设置"));
    setObjectName(QStringLiteral("dlgSaveSet"));
    for (int i = 0; i < 6; ++i) {
        edits_[i] = new QLineEdit(this);
        edits_[i]->setText(QString::fromStdU16String(FieldText(*FieldOf(profile, i))));
        edits_[i]->setMinimumWidth(110);
    }

    // File names: prefix, base (description / number / address), suffix, then the replacement.
    auto* names = new QGroupBox(QStringLiteral("文件名"), this);
    auto* ng = new QGridLayout(names);
    ng->setHorizontalSpacing(8);
    ng->setVerticalSpacing(8);
    auto* nameGroup = new QButtonGroup(this);
    const char16_t* const nameCaptions[3] = {u"描述", u"序号", u"网址"};
    auto* modeRow = new QHBoxLayout;
    for (int m = 0; m < 3; ++m) {
        nameMode_[m] = new QRadioButton(QString::fromUtf16(nameCaptions[m]), names);
        nameGroup->addButton(nameMode_[m], m);
        modeRow->addWidget(nameMode_[m]);
    }
    ng->addWidget(new QLabel(QStringLiteral("前缀"), names), 0, 0);
    ng->addWidget(edits_[0], 0, 1);
    ng->addLayout(modeRow, 0, 2);
    ng->addWidget(new QLabel(QStringLiteral("后缀"), names), 0, 3);
    ng->addWidget(edits_[1], 0, 4);
    auto* replaceRow = new QHBoxLayout;
    replaceRow->addWidget(edits_[2], 1);
    replaceRow->addWidget(new QLabel(QStringLiteral("替换为"), names));
    replaceRow->addWidget(edits_[3], 1);
    ng->addLayout(replaceRow, 1, 1, 1, 4);

    // Album folders: prefix, base (album name / none), suffix.
    auto* folders = new QGroupBox(QStringLiteral("相册路径(相册名)"), this);
    auto* fg = new QGridLayout(folders);
    fg->setHorizontalSpacing(8);
    auto* folderGroup = new QButtonGroup(this);
    const char16_t* const folderCaptions[2] = {u"相册名", u"无"};
    auto* folderRow = new QHBoxLayout;
    for (int m = 0; m < 2; ++m) {
        folderMode_[m] = new QRadioButton(QString::fromUtf16(folderCaptions[m]), folders);
        folderGroup->addButton(folderMode_[m], m);
        folderRow->addWidget(folderMode_[m]);
    }
    fg->addWidget(new QLabel(QStringLiteral("前缀"), folders), 0, 0);
    fg->addWidget(edits_[4], 0, 1);
    fg->addLayout(folderRow, 0, 2);
    fg->addWidget(new QLabel(QStringLiteral("后缀"), folders), 0, 3);
    fg->addWidget(edits_[5], 0, 4);

    nameMode_[profile.NameMode < 3 ? profile.NameMode : 0]->setChecked(true);
    folderMode_[profile.FolderMode == 0 ? 0 : 1]->setChecked(true);

    help_ = new QLabel(QStringLiteral("<a href=\"#\">前后缀说明</a>"), this);
    help_->setTextFormat(Qt::RichText);
    connect(help_, &QLabel::linkActivated, this, [this] { ShowMessageBox(this, NamingHelpText()); });

    ok_ = new QPushButton(QStringLiteral("确 定"), this);
    ok_->setDefault(true);
    connect(ok_, &QPushButton::clicked, this, &CDlgSaveSet::OnOk);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(help_);
    bottom->addStretch();
    bottom->addWidget(ok_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(names);
    layout->addWidget(folders);
    layout->addLayout(bottom);
}

void CDlgSaveSet::OnOk() {
    for (int i = 0; i < 6; ++i) {
        const Text t = edits_[i]->text().left(kNameFieldChars).toStdU16String();
        SetFieldText(*FieldOf(profile_, i), t);
    }
    for (int m = 0; m < 3; ++m)
        if (nameMode_[m]->isChecked()) profile_.NameMode = static_cast<uint8_t>(m);
    profile_.FolderMode = folderMode_[1]->isChecked() ? 1 : 0;
    accept();
}

}  // namespace qm::ui

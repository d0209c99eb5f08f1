// The texts of the upgrade run. The Chinese texts are Big5 (code page 950)
// bytes, as the window shows them; the English ones are the other branch of
// each choice on LanguageIndex. The comments show the Chinese texts.
#pragma once

#include <string>

namespace qv {

struct UpgradeText {
    const char* english;
    const char* chinese;
    // LanguageIndex 0 = English, any other value = Chinese.
    std::string In(int languageIndex) const { return languageIndex != 0 ? chinese : english; }
};

// 找不到<Quotiva9.1>!
inline constexpr UpgradeText kTextNotFound{"Quotiva 9.1 not found!", "\xa7\xe4\xa4\xa3\xa8\xec<Quotiva9.1>!"};
// 請稍候.....
inline constexpr UpgradeText kTextPleaseWait{"Please wait.....", "\xbd\xd0\xb5y\xad\xd4....."};
// 已連接主伺服器 (also when the spare server is in use)
inline constexpr UpgradeText kTextConnected{"Connected to Main Server",
                                            "\xa4w\xb3s\xb1\xb5\xa5""D\xa6\xf8\xaa""A\xbe\xb9"};
// 已成功登入
inline constexpr UpgradeText kTextLoggedIn{"Login success", "\xa4w\xa6\xa8\xa5\x5c\xb5n\xa4J"};
// 已登出系統
inline constexpr UpgradeText kTextLoggedOut{"Logged out", "\xa4w\xb5n\xa5X\xa8t\xb2\xce"};
// 下載中...
inline constexpr UpgradeText kTextDownloading{"Downloading...", "\xa4U\xb8\xfc\xa4\xa4..."};
// 下載完成
inline constexpr UpgradeText kTextDownloaded{"Download completed", "\xa4U\xb8\xfc\xa7\xb9\xa6\xa8"};
// 所需檔案已下載完成
inline constexpr UpgradeText kTextAllDownloaded{
    "Require file had been completely downloaded",
    "\xa9\xd2\xbb\xdd\xc0\xc9\xae\xd7\xa4w\xa4U\xb8\xfc\xa7\xb9\xa6\xa8"};

// 下列檔案在 Windows 上與列表中前面的檔案同名，不會下載：
// (followed by the names, one per line)
inline constexpr UpgradeText kTextDuplicateNames{
    "These files have the same name on Windows as a file listed before them and are not downloaded:",
    "\xa4U\xa6""C\xc0\xc9\xae\xd7\xa6""b Windows \xa4W\xbbP\xa6""C\xaa\xed\xa4\xa4\xab""e\xad\xb1\xaa\xba\xc0\xc9"
    "\xae\xd7\xa6P\xa6W\xa1""A\xa4\xa3\xb7|\xa4U\xb8\xfc\xa1G"};

// (the file's name, then) 正在使用中，無法更新。請先關閉 Quotiva，然後按「重試」；按「取消」則保留原有檔案。
inline constexpr UpgradeText kTextInUse{
    " is in use and cannot be replaced. Please close Quotiva, then press Retry; Cancel keeps the installed files.",
    " \xa5\xbf\xa6""b\xa8\xcf\xa5\xce\xa4\xa4\xa1""A\xb5L\xaak\xa7\xf3\xb7s\xa1""C\xbd\xd0\xa5\xfd\xc3\xf6\xb3\xac Quotiva\xa1"
    "A\xb5M\xab\xe1\xab\xf6\xa1u\xad\xab\xb8\xd5\xa1v\xa1""F\xab\xf6\xa1u\xa8\xfa\xae\xf8\xa1v\xabh\xabO\xaf""d\xad\xec\xa6\xb3"
    "\xc0\xc9\xae\xd7\xa1""C"};

// Signed upgrades: why nothing was installed. Texts that name a file follow
// its name.
// 升級資料夾中沒有經簽署的清單，未安裝任何檔案。
inline constexpr UpgradeText kTextNoManifest{
    "The upgrade folder holds no signed manifest; nothing was installed.",
    "\xa4\xc9\xaf\xc5\xb8\xea\xae\xc6\xa7\xa8\xa4\xa4\xa8S\xa6\xb3\xb8g\xc3\xb1\xb8p\xaa\xba\xb2M\xb3\xe6\xa1""A\xa5\xbc\xa6w"
    "\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// 此升級未經發行者簽署或已被更改，未安裝任何檔案。
inline constexpr UpgradeText kTextBadSignature{
    "The upgrade is not signed by the publisher, or was altered; nothing was installed.",
    "\xa6\xb9\xa4\xc9\xaf\xc5\xa5\xbc\xb8g\xb5o\xa6\xe6\xaa\xcc\xc3\xb1\xb8p\xa9\xce\xa4w\xb3Q\xa7\xf3\xa7\xef\xa1""A\xa5\xbc"
    "\xa6w\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// 此升級屬於其他產品，未安裝任何檔案。
inline constexpr UpgradeText kTextWrongProduct{
    "The upgrade is for another product; nothing was installed.",
    "\xa6\xb9\xa4\xc9\xaf\xc5\xc4\xdd\xa9\xf3\xa8\xe4\xa5L\xb2\xa3\xab~\xa1""A\xa5\xbc\xa6w\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9"
    "\xae\xd7\xa1""C"};
// 此升級的版本比已安裝的版本舊，未安裝任何檔案。
inline constexpr UpgradeText kTextOlderVersion{
    "The upgrade is older than the installed version; nothing was installed.",
    "\xa6\xb9\xa4\xc9\xaf\xc5\xaa\xba\xaa\xa9\xa5\xbb\xa4\xf1\xa4w\xa6w\xb8\xcb\xaa\xba\xaa\xa9\xa5\xbb\xc2\xc2\xa1""A"
    "\xa5\xbc\xa6w\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// 無法讀取此升級的清單，未安裝任何檔案。
inline constexpr UpgradeText kTextBadManifest{
    "The upgrade's manifest cannot be read; nothing was installed.",
    "\xb5L\xaak\xc5\xaa\xa8\xfa\xa6\xb9\xa4\xc9\xaf\xc5\xaa\xba\xb2M\xb3\xe6\xa1""A\xa5\xbc\xa6w\xb8\xcb\xa5\xf4\xa6\xf3"
    "\xc0\xc9\xae\xd7\xa1""C"};
// (the file's name, then) 列於升級清單中，但伺服器上沒有此檔案，未安裝任何檔案。
inline constexpr UpgradeText kTextNotOnServer{
    " is named in the upgrade's manifest but missing on the server; nothing was installed.",
    " \xa6""C\xa9\xf3\xa4\xc9\xaf\xc5\xb2M\xb3\xe6\xa4\xa4\xa1""A\xa6\xfd\xa6\xf8\xaa""A\xbe\xb9\xa4W\xa8S\xa6\xb3\xa6\xb9"
    "\xc0\xc9\xae\xd7\xa1""A\xa5\xbc\xa6w\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// (the file's name, then) 與升級清單不符（大小或 SHA-256），未安裝任何檔案。
inline constexpr UpgradeText kTextNotAsSigned{
    " does not match the upgrade's manifest (size or SHA-256); nothing was installed.",
    " \xbbP\xa4\xc9\xaf\xc5\xb2M\xb3\xe6\xa4\xa3\xb2\xc5\xa1]\xa4j\xa4p\xa9\xce SHA-256\xa1^\xa1""A\xa5\xbc\xa6w\xb8\xcb"
    "\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// (the file's name, then) 無法完整下載，未安裝任何檔案。
inline constexpr UpgradeText kTextNotFetched{
    " could not be downloaded whole; nothing was installed.",
    " \xb5L\xaak\xa7\xb9\xbe\xe3\xa4U\xb8\xfc\xa1""A\xa5\xbc\xa6w\xb8\xcb\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};
// Quotiva 已是最新版本，無需下載任何檔案。
inline constexpr UpgradeText kTextUpToDate{
    "Quotiva is up to date; nothing needed to be downloaded.",
    "Quotiva \xa4w\xacO\xb3\xcc\xb7s\xaa\xa9\xa5\xbb\xa1""A\xb5L\xbb\xdd\xa4U\xb8\xfc\xa5\xf4\xa6\xf3\xc0\xc9\xae\xd7\xa1""C"};

// Shown as they are in both languages.
inline constexpr const char* kTextOperationComplete = "operation complete";
inline constexpr const char* kTextBeingLogin = "Being Login....";
inline constexpr const char* kTextTransferTimedOut = "Transfer timed out";
inline constexpr const char* kTextFtpErrorCaption = "FTP Error: ";

// The upgrade folder on the servers and the two accounts.
inline constexpr const char* kUpgradeFolder = "//QVX_upgrade";
inline constexpr const char* kMainUser = "qvmain";
inline constexpr const char* kMainPassword = "kd52wm71";
inline constexpr const char* kSpareUser = "qvspare";
inline constexpr const char* kSparePassword = "qrt418";

}  // namespace qv

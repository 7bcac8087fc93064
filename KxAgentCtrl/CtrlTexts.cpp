#include "KxAgentCtrl/CtrlTexts.h"

#include "KxProduct.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/text_encoding.h"

namespace {

struct CTextEntry {
  KxTextId nId;
  const char* lpUtf8;
};

// In the order of KxTextId; the check below keeps the two in step.
constexpr CTextEntry kTexts[] = {
    {KX_TEXT_SHEET_CAPTION, "Kestrix Agent for Windows 設定ツール"},
    {KX_TEXT_OK, "OK"},
    {KX_TEXT_CANCEL, "キャンセル"},
    {KX_TEXT_YES, "はい(&Y)"},
    {KX_TEXT_NO, "いいえ(&N)"},
    {KX_TEXT_PAGE_CONFIG, "設定"},
    {KX_TEXT_PAGE_PLUGIN, "プラグイン"},
    {KX_TEXT_PAGE_ACL, "アクセス設定"},
    {KX_TEXT_PAGE_LOG, "ログ設定"},
    {KX_TEXT_PAGE_VERSION, "バージョン情報"},
    {KX_TEXT_ALREADY_RUNNING, "Kestrix Agent for Windows 設定ツールはすでに起動されています。"},
    {KX_TEXT_LOCK_FAILED, "設定ツールのロック「%s」を作成できないため、起動できません。\r\n%s"},
    {KX_TEXT_FRAMEWORK_TITLE, "KxAgentCtrl"},
    {KX_TEXT_ENTER_INTEGER, "Please enter an integer."},
    {KX_TEXT_ENTER_INTEGER_RANGE, "Please enter an integer between %d and %d."},
    {KX_TEXT_SAVE_FAILED,
     "設定ファイル「%s」を保存できませんでした。\r\n"
     "ディスクの空き容量とファイルへの書き込み権限を確認してください。"},
    {KX_TEXT_SAVE_FAILED_TITLE, "設定保存エラー"},
    {KX_TEXT_LOAD_FAILED,
     "設定ファイル「%s」を読み込めませんでした。\r\n%s\r\n\r\n"
     "読み込めなかった設定は表示されていません。"},
    {KX_TEXT_LOAD_FAILED_TITLE, "設定読み込みエラー"},
    {KX_TEXT_REPLACE_UNREADABLE,
     "設定ファイル「%s」は読み込めなかったファイルです。\r\n"
     "保存すると、このファイルは表示中の設定で置き換えられます。\r\n"
     "元のファイルは「%s」として残します。置き換えますか？"},
    {KX_TEXT_REPLACE_UNREADABLE_TITLE, "設定保存の確認"},
    {KX_TEXT_KEEP_UNREADABLE_FAILED,
     "元の設定ファイルを「%s」として残せなかったため、保存を中止しました。"},
    {KX_TEXT_UNREADABLE_NO_DETAIL, "ファイルの内容が正しくありません。"},
    {KX_TEXT_GROUP_SERIAL, "シリアルポート設定"},
    {KX_TEXT_LABEL_PORT, "COMポート:"},
    {KX_TEXT_LABEL_SPEED, "通信速度:"},
    {KX_TEXT_GROUP_SHELL, "シェル設定"},
    {KX_TEXT_LABEL_ENCODING, "エンコーディング:"},
    {KX_TEXT_LABEL_TIMEOUT, "ログオンタイムアウト:"},
    {KX_TEXT_LABEL_SECONDS, "秒"},
    {KX_TEXT_CHECK_EVENTLOG, "イベントログ発生時にコンソールポートへ出力する"},
    {KX_TEXT_CHECK_CPU, "CPU使用率を監視する　（show processでCPU使用率が表示されます）"},
    {KX_TEXT_CHECK_HIDE_IMPROPER, "実行権限がないコマンドはヘルプ表示・コマンド補完の対象にしない"},
    {KX_TEXT_GROUP_SERVICE, "Kestrix Agent サービスコントロール"},
    {KX_TEXT_BUTTON_START, "サービスの開始(&E)"},
    {KX_TEXT_BUTTON_STOP, "サービスの停止(&X)"},
    {KX_TEXT_SERVICE_INITIAL, "※現在サービスは 「停止中」 です。"},
    {KX_TEXT_SERVICE_RUNNING, "※サービスは「動作中」です。"},
    {KX_TEXT_SERVICE_STOPPED, "※サービスは「停止中」です。"},
    {KX_TEXT_SERVICE_UNKNOWN, "※サービスの状態は不明です。"},
    {KX_TEXT_SERVICE_STARTING, "※サービスを開始しています・・・"},
    {KX_TEXT_SERVICE_STOPPING, "※サービスを停止しています・・・"},
    {KX_TEXT_SERVICE_QUERY_FAILED, "サービス情報の取得に失敗しました。"},
    {KX_TEXT_SERVICE_STATE_UNKNOWN, "Kestrix Agent for Windowsサービスの状態を確認できませんでした。"},
    {KX_TEXT_SERVICE_START_TIMEOUT,
     "既定の時間内にKestrix Agent for Windowsサービスを開始できませんでした。 (CURRENT_STATE=%lu)"},
    {KX_TEXT_SERVICE_STOP_TIMEOUT,
     "既定の時間内にKestrix Agent for Windowsサービスを停止できませんでした。 (CURRENT_STATE=%lu)"},
    {KX_TEXT_SERVICE_ERROR, "不明なエラーが発生しました。 (ERRCODE=%lu)"},
    {KX_TEXT_ERROR_TITLE, "エラー"},
    {KX_TEXT_SAVE_BEFORE_START, "設定内容が変更されています。\r\n設定を保存してからサービスを起動しますか？"},
    {KX_TEXT_SAVE_BEFORE_START_TITLE, "設定保存の確認"},
    {KX_TEXT_GROUP_ACCOUNTS, "ログオン可能アカウント"},
    {KX_TEXT_COLUMN_ACCOUNT, "アカウント"},
    {KX_TEXT_COLUMN_DOMAIN, "ドメイン"},
    {KX_TEXT_COLUMN_LOGON, "ログイン"},
    {KX_TEXT_BUTTON_CHOOSE, "↓実行可能コマンド設定(&C)"},
    {KX_TEXT_BUTTON_ADD, "追加(&A)..."},
    {KX_TEXT_BUTTON_DELETE, "削除(&R)"},
    {KX_TEXT_GROUP_COMMANDS, "実行可能コマンド"},
    {KX_TEXT_GROUP_COMMANDS_OF, "%s の実行可能コマンド"},
    {KX_TEXT_COLUMN_COMMAND, "コマンド"},
    {KX_TEXT_COLUMN_TYPE, "種別"},
    {KX_TEXT_COLUMN_RUN, "実行"},
    {KX_TEXT_BUTTON_CHECK_ALL, "すべてチェックする(&S)"},
    {KX_TEXT_BUTTON_UNCHECK_ALL, "すべてのチェックを外す(&N)"},
    {KX_TEXT_SHELL_GRANT_NOTE,
     "※dosprompt を許可すると、エージェントの実行アカウントの権限でシェルを使用できます。"},
    {KX_TEXT_LOCAL_DOMAIN, "（ローカル）"},
    {KX_TEXT_CHECKED, "OK"},
    {KX_TEXT_UNCHECKED, "-"},
    {KX_TEXT_ADD_TITLE, "ログオンアカウントの追加"},
    {KX_TEXT_ADD_ACCOUNT_PROMPT, "アカウント名を入力してください。"},
    {KX_TEXT_ADD_USE_DOMAIN, "ドメインを指定する"},
    {KX_TEXT_ADD_DOMAIN_PROMPT, "ドメイン名を入力してください。"},
    {KX_TEXT_INPUT_ERROR_TITLE, "入力エラー"},
    {KX_TEXT_ENTER_ACCOUNT, "アカウントを入力してください。"},
    {KX_TEXT_ENTER_DOMAIN, "ドメインを入力してください。"},
    {KX_TEXT_DUPLICATE_ACCOUNT, "リストのデータと重複するため追加できません。"},
    {KX_TEXT_DUPLICATE_ACCOUNT_TITLE, "追加エラー"},
    {KX_TEXT_DELETE_ONE,
     "アカウント %s をリストから削除します。よろしいですか？\r\n"
     "（※この操作によってNTユーザアカウントが削除されることはありません！）"},
    {KX_TEXT_DELETE_MANY,
     "選択されたすべてのアカウントをリストから削除します。よろしいですか？\r\n"
     "（※この操作によってWindowsアカウントが削除されることはありません！）"},
    {KX_TEXT_DELETE_TITLE, "削除確認"},
    {KX_TEXT_GROUP_LOG, "Kestrix Agent for Windows ログ設定"},
    {KX_TEXT_CHECK_LOG, "動作ログを出力する(&L)"},
    {KX_TEXT_GROUP_LEVELS, "ログの種類"},
    {KX_TEXT_CHECK_ERROR, "エラー(&E)"},
    {KX_TEXT_ERROR_DESCRIPTION, "重要度（高）のログを出力します（内部エラーなど）"},
    {KX_TEXT_CHECK_WARNING, "警告(&W)"},
    {KX_TEXT_WARNING_DESCRIPTION, "重要度（中）のログを出力します（認証失敗時など）"},
    {KX_TEXT_CHECK_INFO, "情報(&I)"},
    {KX_TEXT_INFO_DESCRIPTION, "重要度（低）のログを出力します（Agentへのログオンなど）"},
    {KX_TEXT_CHECK_DEBUG, "デバッグ(&D)"},
    {KX_TEXT_DEBUG_DESCRIPTION, "障害発生時の切り分け等に使用します（通常はオフ）"},
    {KX_TEXT_GROUP_LOG_FILES, "ログファイル設定"},
    {KX_TEXT_LABEL_LOG_DIRECTORY, "ログ保存ディレクトリ:"},
    {KX_TEXT_CHECK_LOG_LIMIT, "ログファイルの最大サイズを設定する"},
    {KX_TEXT_LABEL_MAX_SIZE, "最大サイズ:"},
    {KX_TEXT_LABEL_MB, "MB"},
    {KX_TEXT_SIZE_RANGE_NOTE, "※1 ～ 100MB まで設定可"},
    {KX_TEXT_SIZE_WARNING_NOTE,
     "《注意！》\r\nログファイルが最大サイズに達した場合は、ログが出力されなくなります。\r\n"
     "ログファイルがいっぱいになったことは、NTイベントログで通知されます。"},
    {KX_TEXT_BUTTON_OPEN_DIRECTORY, "ログ保存ディレクトリを開く(&O)"},
    {KX_TEXT_BUTTON_CHANGE_DIRECTORY, "ログ保存ディレクトリの変更(&M)..."},
    {KX_TEXT_BROWSE_TITLE, "ログを保存するディレクトリを選択してください"},
    {KX_TEXT_DIRECTORY_CHANGED,
     "ログ保存ディレクトリを変更しました。\r\n"
     "設定を有効にするために、Kestrix Agent for Windows サービスを再起動してください。"},
    {KX_TEXT_DIRECTORY_CHANGED_TITLE, "設定の変更"},
    {KX_TEXT_GROUP_INSTALLED, "インストールされているプラグイン"},
    {KX_TEXT_COLUMN_PLUGIN_NAME, "プラグイン名"},
    {KX_TEXT_COLUMN_VERSION, "バージョン"},
    {KX_TEXT_COLUMN_COMMAND_COUNT, "コマンド数"},
    {KX_TEXT_BUTTON_INSTALL, "プラグインのインストール(&I)..."},
    {KX_TEXT_BUTTON_UNINSTALL, "プラグインのアンインストール(&U)"},
    {KX_TEXT_GROUP_PLUGIN_COMMANDS, "プラグインに含まれているコマンド"},
    {KX_TEXT_GROUP_PLUGIN_INFO, "プラグインについての情報"},
    {KX_TEXT_GROUP_OPTION, "オプション"},
    {KX_TEXT_CHECK_SCRIPTS, "スクリプトプラグイン (VBScript/JScript) を使用する"},
    {KX_TEXT_PLUGIN_LOAD_FAILED, "プラグインファイル「%s」のロードに失敗しました。"},
    {KX_TEXT_PLUGIN_LOAD_ERROR_TITLE, "プラグインロードエラー"},
    {KX_TEXT_PLUGIN_LIMIT,
     "これ以上プラグインを追加できません。\r\n不要なプラグインをアンインストールしてからインストールしてください。"},
    {KX_TEXT_INSTALL_ERROR_TITLE, "プラグインインストールエラー"},
    {KX_TEXT_FILE_FILTER_NAME, "プラグインファイル"},
    {KX_TEXT_BAD_FILE_NAME, "ファイル名「%s」のプラグインはインストールできません。"},
    {KX_TEXT_SAME_FILE_NAME, "同じファイル名のプラグインがすでに登録されているためインストールできません。"},
    {KX_TEXT_DLL_LOAD_FAILED,
     "プラグインが正常にロードできませんでした。\r\n"
     "プログラムにエラーがあるか、必要な関数が定義されていない可能性があります。"},
    {KX_TEXT_SCRIPT_LOAD_FAILED,
     "プラグインが正常にロードできませんでした。\r\n"
     "スクリプトにエラーがあるか、必要な関数が定義されていない可能性があります。"},
    {KX_TEXT_PLUGIN_DIR_FAILED, "プラグインディレクトリの作成に失敗しました。プラグインのインストールを中止します。"},
    {KX_TEXT_COPY_FAILED, "ファイルのコピーに失敗しました。"},
    {KX_TEXT_BUILTIN_NOT_REMOVABLE, "「標準コマンド」は削除できません。"},
    {KX_TEXT_UNINSTALL_ERROR_TITLE, "プラグインアンインストールエラー"},
    {KX_TEXT_UNINSTALL_QUESTION, "プラグイン「%s (%s : %s)」をアンインストールします。よろしいですか？"},
    {KX_TEXT_UNINSTALL_TITLE, "プラグインのアンインストール"},
    {KX_TEXT_SCRIPTS_OFF_QUESTION,
     "このオプションをオフにすると、登録されているVBScript/JScriptのプラグインが削除されます。\r\n続行しますか？"},
    {KX_TEXT_SCRIPTS_OFF_TITLE, "設定変更の確認"},
    {KX_TEXT_PLUGIN_INFO, "%s\r\n\r\n%s"},
    {KX_TEXT_TOOLTIP_BUILTIN, "%s (Built-in)"},
    {KX_TEXT_TOOLTIP_PLUGIN, "%s ( %s )"},
    {KX_TEXT_PLUGIN_VERSION, "%d.%d"},
    {KX_TEXT_PRODUCT_NAME, KX_PRODUCT_NAME},
    {KX_TEXT_VERSION, "Version %s"},
    {KX_TEXT_PRODUCT_NOTE, "最新の製品情報・サポート情報は、弊社ホームページをご覧ください。"},
    {KX_TEXT_PRODUCT_URL, "https://www.kestrix.example/agent/windows/"},
    {KX_TEXT_BROWSER_FAILED, "ブラウザ起動時にエラーが発生しました。(ERROR=%ld)"},
    {KX_TEXT_BROWSER_FAILED_TITLE, "エラー発生"},
};

static_assert(sizeof(kTexts) / sizeof(kTexts[0]) == KX_TEXT_COUNT, "one text for every KxTextId");

constexpr bool IsInOrder() {
  for (int i = 0; i < KX_TEXT_COUNT; ++i) {
    if (kTexts[i].nId != i) return false;
  }
  return true;
}
static_assert(IsInOrder(), "the texts are listed in the order of KxTextId");

}  // namespace

const char* KxTextUtf8(KxTextId nId) { return kTexts[nId].lpUtf8; }

const std::string& KxText(KxTextId nId) {
  static const std::vector<std::string> vecCp932 = [] {
    std::vector<std::string> vecTexts;
    for (const CTextEntry& entry : kTexts) vecTexts.push_back(kx::Utf8ToCp932(entry.lpUtf8));
    return vecTexts;
  }();
  return vecCp932[nId];
}

std::string KxFormatText(KxTextId nId, ...) {
  const std::string& strFormat = KxText(nId);
  va_list args;
  va_start(args, nId);
  va_list argsAgain;
  va_copy(argsAgain, args);
  int nLength = std::vsnprintf(nullptr, 0, strFormat.c_str(), args);
  va_end(args);
  std::string strText;
  if (nLength > 0) {
    strText.resize(static_cast<size_t>(nLength) + 1);
    std::vsnprintf(&strText[0], strText.size(), strFormat.c_str(), argsAgain);
    strText.resize(static_cast<size_t>(nLength));
  }
  va_end(argsAgain);
  return strText;
}

// The texts setup must show, per user interface language, as the product's
// documentation gives them; and the language a test runs in (from LC_ALL).
#pragma once

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

struct LanguageTexts {
    const char* name;
    LANGID language;
    // Strings 103 to 131 but 108, the welcome text, which only has to name the product.
    std::map<UINT, std::wstring> strings;
    // Dialog texts: Do not agree, Agree, Cancel, Back, Next.
    const wchar_t* disagree;
    const wchar_t* agree;
    const wchar_t* cancel;
    const wchar_t* back;
    const wchar_t* next;
    short disagreeWidth;
};

inline const LanguageTexts& English() {
    static const LanguageTexts texts = {
        "English",
        1033,
        {
            {103, L"Quillet"},
            {104, L"It is not possible to install it."},
            {105, L"&Close"},
            {106, L"not use"},
            {107, L"Welcome to the %s Setup Wizard"},
            {109, L"License Article"},
            {110, L"Please read the license article. And click [next] after clicking [agree] when "
                  L"it is agreed to the following conditions. If not click [cancel]."},
            {111, L"Confirm Installation"},
            {112, L"The installer is ready to install %s on your computer.\n\n\nClick \"Next\" to "
                  L"start the installation."},
            {113, L"Installing %s"},
            {114, L"Please wait..."},
            {115, L"Installation Complete"},
            {116, L"%s has been successfully installed.\n\nClick \"Close\" to exit."},
            {117, L"Installation failed."},
            {118, L"The error occurred while installing %s.\n\nClick \"Close\" to exit."},
            {119, L"To activate the new settings, you must restart PC. \nDo you want to restart PC "
                  L"Now?"},
            {120, L"Step: %s\nError %u: %s"},
            {121, L"creating the installation folder"},
            {122, L"copying the files into the installation folder"},
            {123, L"copying the driver into the system's driver folder"},
            {124, L"registering the driver service"},
            {125, L"loading the driver on trial"},
            {126, L"setting the driver to start with Windows"},
            {127, L"registering the driver as a filter of the disk drives"},
            {128, L"An earlier copy of the driver is still in use. Restart the PC, then run the "
                  L"setup again."},
            {129, L"Windows on this PC starts from a USB disk. %s write-protects every USB disk, "
                  L"so this PC would no longer start. Nothing has been installed."},
            {130, L"writing the entry of Apps & features"},
            {131,
             L"Usage: QuillGuardSetup.exe [/quiet] [/uninstall] [/norestart] [/log "
             L"PATH]\n\n/quiet\tinstall without any window; with /uninstall, "
             L"remove\n/uninstall\tremove the installed product\n/norestart\tdo not ask to restart "
             L"the PC\n/log PATH\twrite every step into the file PATH\n\nExit codes of /quiet: 0 "
             L"nothing to do, 3010 done (restart the PC), 1603 failed, 350 restart the PC first, "
             L"1618 another setup is running, 1633 not an x64 PC, 1639 unknown switch."},
        },
        L"&Do not agree",
        L"&Agree",
        L"Cancel",
        L"< &Back",
        L"&Next >",
        59};
    return texts;
}

inline const LanguageTexts& Japanese() {
    static const LanguageTexts texts = {
        "Japanese",
        1041,
        {
            {103, L"Quillet"},
            {104, L"インストールできません。"},
            {105, L"閉じる(&C)"},
            {106, L"別のバージョンの製品が既にインストールされています。このバージョンのインストー"
                  L"ルを続行できません。既にインストールされているバージョンの製品を削除するには、"
                  L"コントロールパネルの[プログラムの追加と削除]を使用して下さい。"},
            {107, L"%s セットアップ ウィザードへようこそ"},
            {109, L"ライセンス条項"},
            {110, L"ライセンス条項をお読みください。以下の条件に同意される場合は[同意する]"
                  L"をクリックしてから[次へ]をクリックして下さい。その他の場合は[キャンセル]"
                  L"をクリックしてください。"},
            {111, L"インストールの確認"},
            {112, L"%s "
                  L"をインストールする準備ができました。\n\n\n[次へ]"
                  L"をクリックしてインストールを開始して下さい。"},
            {113, L"%s をインストールしています。"},
            {114, L"しばらくお待ちください..."},
            {115, L"インストールが完了しました。"},
            {116,
             L"%s "
             L"は正しくインストールされました。\n\n終了するには、[閉じる]をクリックして下さい。"},
            {117, L"インストールが失敗しました。"},
            {118, L"%s "
                  L"のインストール中にエラーが発生しました。\n\n終了するには、[閉じる]"
                  L"をクリックして下さい。"},
            {119, L"新しい設定を有効するには、コンピュータを再起動する必要があります。\n今すぐコン"
                  L"ピュータを再起動しますか?"},
            {120, L"手順: %s\nエラー %u: %s"},
            {121, L"インストール フォルダーの作成"},
            {122, L"インストール フォルダーへのファイルのコピー"},
            {123, L"システムのドライバー フォルダーへのドライバーのコピー"},
            {124, L"ドライバー サービスの登録"},
            {125, L"ドライバーの試験読み込み"},
            {126, L"Windows の起動時にドライバーを開始する設定"},
            {127, L"ディスク ドライブのフィルターとしてのドライバーの登録"},
            {128, L"以前のドライバーがまだ使用中です。PC "
                  L"を再起動してから、もう一度セットアップを実行して下さい。"},
            {129, L"この PC の Windows は USB ディスクから起動しています。%s はすべての USB "
                  L"ディスクを書き込み禁止にするため、この PC "
                  L"は起動できなくなります。何もインストールされていません。"},
            {130, L"[アプリと機能] のエントリの書き込み"},
            {131,
             L"使い方: QuillGuardSetup.exe [/quiet] [/uninstall] [/norestart] [/log "
             L"パス]\n\n/quiet\tウィンドウを表示せずにインストールします。/uninstall "
             L"と共に指定すると削除します\n/uninstall\tインストールされている製品を削除します\n/"
             L"norestart\tPC の再起動を確認しません\n/log パス\tすべての手順をファイル "
             L"パスに書き込みます\n\n/quiet の終了コード: 0 何もしない、3010 完了 (PC "
             L"を再起動して下さい)、1603 失敗、350 先に PC を再起動して下さい、1618 "
             L"別のセットアップが実行中、1633 x64 の PC ではない、1639 不明なスイッチ。"},
        },
        L"同意しない(&D)",
        L"同意する(&A)",
        L"キャンセル",
        L"< 戻る(&B)",
        L"次へ(&N) >",
        60};
    return texts;
}

inline const LanguageTexts& Chinese() {
    static const LanguageTexts texts = {
        "Chinese",
        2052,
        {
            {103, L"Quillet"},
            {104, L"无法安装。"},
            {105, L"关闭(&C)"},
            {106, L"已安装本计算机程序的其他版本。无法安装此版本。如果要删除已安装的版本，请在控制"
                  L"面板的[添加或删除程序]里删除程序。"},
            {107, L"欢迎光临 %s 的安装向导"},
            {109, L"验证码条款"},
            {110, L"请阅读验证码条款。如果同意以下条件，请点击[同意]后，再点击[下一步]"
                  L"。如果不同意，请点击取消。"},
            {111, L"安装确认"},
            {112, L"安装程序已准备在您的计算机上安装 %s。\n\n\n单击[下一步]开始安装"},
            {113, L"正在安装 %s。"},
            {114, L"请稍后..."},
            {115, L"已成功安装"},
            {116, L"已成功安装%s。\n\n结束的话，请按[关闭]。"},
            {117, L"安装失败。"},
            {118, L"%s 的安装过程中发生错误。\n\n结束的话，请按[关闭]。"},
            {119, L"要啟動新的設置，您必須重新啟動電腦。 \n您要重新啟動電腦吧?"},
            {120, L"步骤：%s\n错误 %u：%s"},
            {121, L"创建安装文件夹"},
            {122, L"将文件复制到安装文件夹"},
            {123, L"将驱动程序复制到系统驱动程序文件夹"},
            {124, L"注册驱动程序服务"},
            {125, L"试加载驱动程序"},
            {126, L"设置驱动程序随 Windows 启动"},
            {127, L"将驱动程序注册为磁盘驱动器的筛选器"},
            {128, L"旧版驱动程序仍在使用中。请重新启动电脑，然后再次运行安装程序。"},
            {129, L"此电脑的 Windows 从 USB 磁盘启动。%s 会对所有 USB "
                  L"磁盘进行写保护，此电脑将无法再启动。未安装任何内容。"},
            {130, L"写入“应用和功能”的条目"},
            {131,
             L"用法：QuillGuardSetup.exe [/quiet] [/uninstall] [/norestart] [/log "
             L"路径]\n\n/quiet\t不显示任何窗口进行安装；与 /uninstall "
             L"一起使用时为删除\n/uninstall\t删除已安装的产品\n/"
             L"norestart\t不询问是否重新启动电脑\n/log 路径\t将每个步骤写入文件“路径”\n\n/quiet "
             L"的退出代码：0 无需操作，3010 完成（请重新启动电脑），1603 失败，350 "
             L"请先重新启动电脑，1618 另一个安装程序正在运行，1633 不是 x64 电脑，1639 未知开关。"},
        },
        L"不同意(&D)",
        L"同意(&A)",
        L"取消",
        L"< 后退(&B)",
        L"下一步(&N) >",
        50};
    return texts;
}

// The language Wine gives the user interface: LC_ALL, as CTest sets it per test.
inline const LanguageTexts& CurrentTexts() {
    const char* locale = std::getenv("LC_ALL");
    if (locale != nullptr && std::strncmp(locale, "ja", 2) == 0) {
        return Japanese();
    }
    if (locale != nullptr && std::strncmp(locale, "zh", 2) == 0) {
        return Chinese();
    }
    return English();
}

constexpr const wchar_t* kWizardTitle = L"Quillet Ver.2.0.0";

// A page text as the wizard formats it: the one %s is the wizard title.
inline std::wstring Formatted(const std::wstring& format,
                              const std::wstring& title = kWizardTitle) {
    std::wstring text = format;
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) {
        text.replace(at, 2, title);
    }
    return text;
}

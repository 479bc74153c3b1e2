<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
    <context>
        <name>Dialog1000</name>
        <message>
            <source>ﾊﾞｰｼﾞｮﾝ情報</source>
            <translation>About Kestrel</translation>
        </message>
        <message>
            <source>会社名</source>
            <translation>Company</translation>
        </message>
        <message>
            <source>製品名</source>
            <translation>Product</translation>
        </message>
        <message>
            <source>バージョン</source>
            <translation>Version</translation>
        </message>
        <message>
            <source>著作権表示</source>
            <translation>Copyright</translation>
        </message>
        <message>
            <source>商標</source>
            <translation>Trademark</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
    </context>
    <context>
        <name>Dialog1100</name>
        <message>
            <source>ﾊﾞｰｼﾞｮﾝ情報</source>
            <translation>About Kestrel</translation>
        </message>
        <message>
            <source>会社名</source>
            <translation>Company</translation>
        </message>
        <message>
            <source>製品名</source>
            <translation>Product</translation>
        </message>
        <message>
            <source>Ver.</source>
            <translation>Version</translation>
        </message>
        <message>
            <source>バージョン</source>
            <translation>Version</translation>
        </message>
        <message>
            <source>著作権表示</source>
            <translation>Copyright</translation>
        </message>
        <message>
            <source>商標</source>
            <translation>Trademark</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
    </context>
    <context>
        <name>Dialog1200</name>
        <message>
            <source>のｹｽﾄﾚﾙ</source>
            <translation> - Kestrel</translation>
        </message>
        <message>
            <source>閉じる</source>
            <translation>Close</translation>
        </message>
        <message>
            <source>ﾍﾙﾌﾟ</source>
            <translation>Help</translation>
        </message>
        <message>
            <source>VELTA ｹｽﾄﾚﾙ</source>
            <translation>VELTA Kestrel</translation>
        </message>
        <message>
            <source>初期化中</source>
            <translation>Starting</translation>
        </message>
        <message>
            <source>
初期化中です
しばらくお待ちください．．．</source>
            <translation>
Starting.
Please wait...</translation>
        </message>
        <message>
            <source>初期化中です</source>
            <translation>Starting</translation>
        </message>
    </context>
    <context>
        <name>Dialog2100</name>
        <message>
            <source>ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ</source>
            <translation>Troubleshooting</translation>
        </message>
        <message>
            <source>接続方法のアイコン</source>
            <translation>Connection</translation>
        </message>
        <message>
            <source>プリンタ名</source>
            <translation>Printer name</translation>
        </message>
        <message>
            <source>機種名</source>
            <translation>Model</translation>
        </message>
        <message>
            <source>出力先：</source>
            <translation>Prints to:</translation>
        </message>
        <message>
            <source>出力先</source>
            <translation>Prints to</translation>
        </message>
        <message>
            <source>説明</source>
            <translation>Explanation</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
    </context>
    <context>
        <name>Dialog2200</name>
        <message>
            <source>ﾄﾚｲｱｲｺﾝ</source>
            <translation>Tray Icon</translation>
        </message>
        <message>
            <source>タスクバーのトレイの図</source>
            <translation>Picture of the taskbar tray</translation>
        </message>
        <message>
            <source>ﾀｽｸﾊﾞｰの右側のﾄﾚｲにﾌﾟﾘﾝﾀを追加します。
表示したいｱｲｺﾝを選択してください。</source>
            <translation>The printer gets an icon in the tray of the taskbar.
Choose the icon you want to see.</translation>
        </message>
        <message>
            <source>タスクバーの右側のトレイにプリンタを追加します。表示したいアイコンを選択してください。</source>
            <translation>The printer gets an icon in the tray of the taskbar. Choose the icon you want to see.</translation>
        </message>
        <message>
            <source>ｱｲｺﾝ一覧(&amp;I) :</source>
            <translation>&amp;Icons:</translation>
        </message>
        <message>
            <source>アイコン一覧</source>
            <translation>Icons</translation>
        </message>
        <message>
            <source>OK</source>
            <translation>OK</translation>
        </message>
        <message>
            <source>ｷｬﾝｾﾙ</source>
            <translation>Cancel</translation>
        </message>
        <message>
            <source>キャンセル</source>
            <translation>Cancel</translation>
        </message>
    </context>
    <context>
        <name>Dialog2400</name>
        <message>
            <source>VELTA  - ｲﾝｸ交換</source>
            <translation>VELTA - Change Ink</translation>
        </message>
        <message>
            <source>交換手順の図</source>
            <translation>Picture of the step</translation>
        </message>
        <message>
            <source>交換手順の説明</source>
            <translation>What to do</translation>
        </message>
        <message>
            <source>戻る</source>
            <translation>Back</translation>
        </message>
        <message>
            <source>次へ</source>
            <translation>Next</translation>
        </message>
        <message>
            <source>閉じる</source>
            <translation>Close</translation>
        </message>
    </context>
    <context>
        <name>Page1300</name>
        <message>
            <source>接続方法のアイコン</source>
            <translation>Connection</translation>
        </message>
        <message>
            <source>プリンタ名</source>
            <translation>Printer name</translation>
        </message>
        <message>
            <source>機種名</source>
            <translation>Model</translation>
        </message>
        <message>
            <source>出力先：</source>
            <translation>Prints to:</translation>
        </message>
        <message>
            <source>出力先</source>
            <translation>Prints to</translation>
        </message>
        <message>
            <source>プリンタの図</source>
            <translation>Picture of the printer</translation>
        </message>
        <message>
            <source>ステータスメッセージ</source>
            <translation>Status message</translation>
        </message>
        <message>
            <source>対処方法</source>
            <translation>What to do</translation>
        </message>
        <message>
            <source>ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ...</source>
            <translation>Troubleshooting...</translation>
        </message>
        <message>
            <source>用紙残量</source>
            <translation>Paper left</translation>
        </message>
        <message>
            <source>FULL</source>
            <translation>FULL</translation>
        </message>
        <message>
            <source>ﾄﾚｲ</source>
            <translation>Tray</translation>
        </message>
        <message>
            <source>：</source>
            <translation>:</translation>
        </message>
        <message>
            <source>トレイの用紙サイズ</source>
            <translation>Paper size in the tray</translation>
        </message>
        <message>
            <source>トレイの用紙残量</source>
            <translation>Paper left in the tray</translation>
        </message>
        <message>
            <source>カセット1の名前</source>
            <translation>Cassette 1</translation>
        </message>
        <message>
            <source>ｶｾｯﾄ</source>
            <translation>Cassette</translation>
        </message>
        <message>
            <source>カセット1の用紙サイズ</source>
            <translation>Paper size in cassette 1</translation>
        </message>
        <message>
            <source>カセット1の用紙残量</source>
            <translation>Paper left in cassette 1</translation>
        </message>
        <message>
            <source>カセット2の名前</source>
            <translation>Cassette 2</translation>
        </message>
        <message>
            <source>カセット2の用紙サイズ</source>
            <translation>Paper size in cassette 2</translation>
        </message>
        <message>
            <source>カセット2の用紙残量</source>
            <translation>Paper left in cassette 2</translation>
        </message>
        <message>
            <source>カセット3の名前</source>
            <translation>Cassette 3</translation>
        </message>
        <message>
            <source>カセット3の用紙サイズ</source>
            <translation>Paper size in cassette 3</translation>
        </message>
        <message>
            <source>カセット3の用紙残量</source>
            <translation>Paper left in cassette 3</translation>
        </message>
        <message>
            <source>ﾄﾅｰ残量</source>
            <translation>Toner left</translation>
        </message>
        <message>
            <source>トナー残量</source>
            <translation>Toner left</translation>
        </message>
        <message>
            <source>感光体寿命</source>
            <translation>Photoconductor life</translation>
        </message>
    </context>
    <context>
        <name>Page1400</name>
        <message>
            <source>接続方法のアイコン</source>
            <translation>Connection</translation>
        </message>
        <message>
            <source>プリンタ名</source>
            <translation>Printer name</translation>
        </message>
        <message>
            <source>機種名</source>
            <translation>Model</translation>
        </message>
        <message>
            <source>出力先：</source>
            <translation>Prints to:</translation>
        </message>
        <message>
            <source>出力先</source>
            <translation>Prints to</translation>
        </message>
        <message>
            <source>プリンタの図</source>
            <translation>Picture of the printer</translation>
        </message>
        <message>
            <source>ステータスメッセージ</source>
            <translation>Status message</translation>
        </message>
        <message>
            <source>対処方法</source>
            <translation>What to do</translation>
        </message>
        <message>
            <source>ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ...</source>
            <translation>Troubleshooting...</translation>
        </message>
        <message>
            <source>用紙情報</source>
            <translation>Paper</translation>
        </message>
        <message>
            <source>トラクタの名前</source>
            <translation>Tractor</translation>
        </message>
        <message>
            <source>ﾌﾟｯｼｭﾄﾗｸﾀ</source>
            <translation>Push tractor</translation>
        </message>
        <message>
            <source>：</source>
            <translation>:</translation>
        </message>
        <message>
            <source>連続紙の幅</source>
            <translation>Continuous paper width</translation>
        </message>
        <message>
            <source>ビン1の名前</source>
            <translation>Bin 1</translation>
        </message>
        <message>
            <source>ｶｯﾄｼｰﾄﾌｨｰﾀﾞ</source>
            <translation>Cut-sheet feeder</translation>
        </message>
        <message>
            <source>ビン1の用紙サイズ</source>
            <translation>Paper size in bin 1</translation>
        </message>
        <message>
            <source>ビン2の名前</source>
            <translation>Bin 2</translation>
        </message>
        <message>
            <source>ビン2の用紙サイズ</source>
            <translation>Paper size in bin 2</translation>
        </message>
        <message>
            <source>ビン3の名前</source>
            <translation>Bin 3</translation>
        </message>
        <message>
            <source>ビン3の用紙サイズ</source>
            <translation>Paper size in bin 3</translation>
        </message>
        <message>
            <source>手差し</source>
            <translation>Manual feed</translation>
        </message>
        <message>
            <source>手差しの用紙サイズ</source>
            <translation>Paper size for manual feed</translation>
        </message>
    </context>
    <context>
        <name>Page1500</name>
        <message>
            <source>接続方法のアイコン</source>
            <translation>Connection</translation>
        </message>
        <message>
            <source>プリンタ名</source>
            <translation>Printer name</translation>
        </message>
        <message>
            <source>機種名</source>
            <translation>Model</translation>
        </message>
        <message>
            <source>出力先：</source>
            <translation>Prints to:</translation>
        </message>
        <message>
            <source>出力先</source>
            <translation>Prints to</translation>
        </message>
        <message>
            <source>プリンタの図</source>
            <translation>Picture of the printer</translation>
        </message>
        <message>
            <source>ステータスメッセージ</source>
            <translation>Status message</translation>
        </message>
        <message>
            <source>対処方法</source>
            <translation>What to do</translation>
        </message>
        <message>
            <source>交換の手順...</source>
            <translation>Change Ink...</translation>
        </message>
        <message>
            <source>ﾄﾗﾌﾞﾙｼｭｰﾃｨﾝｸﾞ...</source>
            <translation>Troubleshooting...</translation>
        </message>
        <message>
            <source>カラーインク残量</source>
            <translation>Color ink left</translation>
        </message>
        <message>
            <source>ｶﾗｰｲﾝｸ</source>
            <translation>Color ink</translation>
        </message>
        <message>
            <source>黒インク残量</source>
            <translation>Black ink left</translation>
        </message>
        <message>
            <source>黒ｲﾝｸ</source>
            <translation>Black ink</translation>
        </message>
    </context>
    <context>
        <name>Page1600</name>
        <message>
            <source>ﾌﾟﾘﾝﾀ情報</source>
            <translation>Information</translation>
        </message>
        <message>
            <source>接続方法のアイコン</source>
            <translation>Connection</translation>
        </message>
        <message>
            <source>プリンタ名</source>
            <translation>Printer name</translation>
        </message>
        <message>
            <source>機種名</source>
            <translation>Model</translation>
        </message>
        <message>
            <source>出力先：</source>
            <translation>Prints to:</translation>
        </message>
        <message>
            <source>出力先</source>
            <translation>Prints to</translation>
        </message>
        <message>
            <source>情報ﾘｽﾄ(L) :</source>
            <translation>Information list:</translation>
        </message>
        <message>
            <source>情報ﾘｽﾄ</source>
            <translation>Information list</translation>
        </message>
        <message>
            <source>詳細</source>
            <translation>Details</translation>
        </message>
    </context>
    <context>
        <name>Page1700</name>
        <message>
            <source>環境設定</source>
            <translation>Settings</translation>
        </message>
        <message>
            <source>ｽﾃｰﾀｽ確認の頻度(F)</source>
            <translation>Status check frequency</translation>
        </message>
        <message>
            <source>短い</source>
            <translation>Often</translation>
        </message>
        <message>
            <source>ｽﾃｰﾀｽ確認の頻度 (秒)</source>
            <translation>Status check frequency (seconds)</translation>
        </message>
        <message>
            <source>長い</source>
            <translation>Seldom</translation>
        </message>
        <message>
            <source>ｳｲﾝﾄﾞｳ(W)</source>
            <translation>Window</translation>
        </message>
        <message>
            <source>手前に表示</source>
            <translation>Keep on top</translation>
        </message>
        <message>
            <source>印刷時にｵｰﾌﾟﾝ</source>
            <translation>Open when printing starts</translation>
        </message>
        <message>
            <source>ｴﾗｰ,警告時にｵｰﾌﾟﾝ</source>
            <translation>Open on an error or warning</translation>
        </message>
        <message>
            <source>ﾓﾆﾀ</source>
            <translation>Monitor</translation>
        </message>
        <message>
            <source>ﾓﾆﾀする(M)</source>
            <translation>Monitor this printer</translation>
        </message>
        <message>
            <source>ﾄﾚｲｱｲｺﾝ(I)...</source>
            <translation>Tray Icon...</translation>
        </message>
        <message>
            <source>印刷前の紙ｻｲｽﾞﾁｪｯｸ(S)</source>
            <translation>Check paper size before printing</translation>
        </message>
        <message>
            <source>ﾃﾞｽｸﾄｯﾌﾟ通知(O)</source>
            <translation>Desktop notifications</translation>
        </message>
        <message>
            <source>ｱﾗｰﾑ通知(A)</source>
            <translation>Alerts</translation>
        </message>
        <message>
            <source>ｱﾗｰﾑ通知の種類</source>
            <translation>Alert types</translation>
        </message>
        <message>
            <source>ｱﾗｰﾑ</source>
            <translation>Alert</translation>
        </message>
        <message>
            <source>ｻｳﾝﾄﾞ</source>
            <translation>Sound</translation>
        </message>
        <message>
            <source>すべて有効(E)</source>
            <translation>Enable All</translation>
        </message>
        <message>
            <source>すべて無効(V)</source>
            <translation>Disable All</translation>
        </message>
        <message>
            <source>標準に戻す(D)</source>
            <translation>Defaults</translation>
        </message>
        <message>
            <source>ｻｳﾝﾄﾞ名(N) :</source>
            <translation>Sound name:</translation>
        </message>
        <message>
            <source>ｻｳﾝﾄﾞ名</source>
            <translation>Sound name</translation>
        </message>
        <message>
            <source>参照(B)...</source>
            <translation>Browse...</translation>
        </message>
        <message>
            <source>ｻｳﾝﾄﾞの形式</source>
            <translation>Sound format</translation>
        </message>
        <message>
            <source>ﾃｽﾄ(T) :</source>
            <translation>Test:</translation>
        </message>
        <message>
            <source>ﾃｽﾄ再生</source>
            <translation>Play</translation>
        </message>
        <message>
            <source>停止</source>
            <translation>Stop</translation>
        </message>
        <message>
            <source>更新(P)</source>
            <translation>Apply</translation>
        </message>
    </context>
    <context>
        <name>Page1800</name>
        <message>
            <source>ﾂｰﾙ</source>
            <translation>Tools</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ管理</source>
            <translation>Print jobs</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ一覧(J)</source>
            <translation>Print Jobs</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀの設定</source>
            <translation>Printer setup</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀ設定(P)</source>
            <translation>Printer Setup</translation>
        </message>
    </context>
    <context>
        <name>Page1900</name>
        <message>
            <source>ﾂｰﾙ</source>
            <translation>Tools</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ管理</source>
            <translation>Print jobs</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ一覧(J)</source>
            <translation>Print Jobs</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀの設定</source>
            <translation>Printer setup</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀ設定(P)</source>
            <translation>Printer Setup</translation>
        </message>
    </context>
    <context>
        <name>Page2000</name>
        <message>
            <source>ﾂｰﾙ</source>
            <translation>Tools</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ管理</source>
            <translation>Print jobs</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ一覧(J)</source>
            <translation>Print Jobs</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀの設定</source>
            <translation>Printer setup</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀ設定(P)</source>
            <translation>Printer Setup</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾄﾍｯﾄﾞ移動</source>
            <translation>Print head</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾄﾍｯﾄﾞ移動(R)...</source>
            <translation>Move Print Head...</translation>
        </message>
    </context>
    <context>
        <name>MessageBox</name>
        <message>
            <source>エラー</source>
            <translation>Error</translation>
        </message>
        <message>
            <source>VELTA ｹｽﾄﾚﾙ</source>
            <translation>VELTA Kestrel</translation>
        </message>
        <message>
            <source>初期化に失敗しました。
アプリケーションを終了して下さい。</source>
            <translation>Kestrel could not start.
Please close the application.</translation>
        </message>
        <message>
            <source>メモリがありません。
アプリケーションを終了して下さい。</source>
            <translation>Out of memory.
Please close the application.</translation>
        </message>
        <message>
            <source>致命的なエラーが発生しました。
アプリケーションを終了して下さい。</source>
            <translation>A fatal error occurred.
Please close the application.</translation>
        </message>
        <message>
            <source>初期化が完了しませんでした。&#xd;
プリンタの状態を確認してください。</source>
            <translation>Kestrel could not finish starting.&#xd;
Check the printer.</translation>
        </message>
        <message>
            <source>サーバー: CreateMapFile() 異常終了!</source>
            <translation>Server: CreateMapFile() failed!</translation>
        </message>
        <message>
            <source>サーバー: MapFileHandle が NULL です!</source>
            <translation>Server: MapFileHandle is NULL!</translation>
        </message>
        <message>
            <source>サーバー: CreateMap() 異常終了!</source>
            <translation>Server: CreateMap() failed!</translation>
        </message>
        <message>
            <source>ファイル ビューのマッピング異常終了!</source>
            <translation>Mapping the file view failed!</translation>
        </message>
        <message>
            <source> MapView() 異常終了!</source>
            <translation> MapView() failed!</translation>
        </message>
        <message>
            <source>クライアント: ファイル マッピング オープン異常終了!</source>
            <translation>Client: opening the file mapping failed!</translation>
        </message>
        <message>
            <source>選択されたプリンタではモニタできません
     プリンタ        ＩＪ－０３</source>
            <translation>The selected printer cannot be monitored.
     Printer        IJ-03</translation>
        </message>
    </context>
    <context>
        <name>QObject</name>
        <message>
            <source>ｼﾞｮﾌﾞ一覧</source>
            <translation>Jobs</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀのｼｮｰﾄｶｯﾄを読み取れません。</source>
            <translation>The printer's shortcut cannot be read.</translation>
        </message>
        <message>
            <source>ﾌﾟﾘﾝﾀ「%1」は削除されています。</source>
            <translation>The printer "%1" has been deleted.</translation>
        </message>
        <message>
            <source>ｽﾌﾟｰﾗを読み取れません。</source>
            <translation>The spooler cannot be read.</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞを取り消せませんでした。</source>
            <translation>The jobs could not be cancelled.</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞを取り消す権限がありません。ほかのﾕｰｻﾞｰのｼﾞｮﾌﾞは取り消せません。</source>
            <translation>You may not cancel these jobs: the jobs of other users cannot be cancelled.</translation>
        </message>
        <message>
            <source>印刷待ち</source>
            <translation>Waiting</translation>
        </message>
        <message>
            <source>保留中</source>
            <translation>Held</translation>
        </message>
        <message>
            <source>印刷中</source>
            <translation>Printing</translation>
        </message>
        <message>
            <source>停止中</source>
            <translation>Stopped</translation>
        </message>
        <message>
            <source>取り消し済み</source>
            <translation>Cancelled</translation>
        </message>
        <message>
            <source>中止</source>
            <translation>Aborted</translation>
        </message>
        <message>
            <source>完了</source>
            <translation>Completed</translation>
        </message>
    </context>
    <context>
        <name>queue::QueueWindow</name>
        <message>
            <source>1件取り消し(&amp;C)</source>
            <translation>&amp;Cancel One</translation>
        </message>
        <message>
            <source>すべて取り消し(&amp;A)</source>
            <translation>Cancel &amp;All</translation>
        </message>
        <message>
            <source>%1 - ｼﾞｮﾌﾞ一覧</source>
            <translation>%1 - Jobs</translation>
        </message>
        <message>
            <source>ｷｭｰの状態</source>
            <translation>Queue state</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞを読み込んでいます...</source>
            <translation>Reading the jobs...</translation>
        </message>
        <message>
            <source>印刷待ちのｼﾞｮﾌﾞ</source>
            <translation>Jobs waiting to print</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ</source>
            <translation>Job</translation>
        </message>
        <message>
            <source>状態</source>
            <translation>State</translation>
        </message>
        <message>
            <source>番号</source>
            <translation>ID</translation>
        </message>
        <message>
            <source>文書名</source>
            <translation>Document</translation>
        </message>
        <message>
            <source>所有者</source>
            <translation>Owner</translation>
        </message>
        <message>
            <source>ｻｲｽﾞ</source>
            <translation>Size</translation>
        </message>
        <message>
            <source>受付時刻</source>
            <translation>Submitted</translation>
        </message>
        <message>
            <source>選択したｼﾞｮﾌﾞを取り消し(&amp;C)</source>
            <translation>&amp;Cancel Selected Job</translation>
        </message>
        <message>
            <source>印刷待ちのｼﾞｮﾌﾞはありません。</source>
            <translation>No jobs are waiting to print.</translation>
        </message>
        <message>
            <source>印刷待ちのｼﾞｮﾌﾞが %1 件あります。</source>
            <translation>%1 job(s) waiting to print.</translation>
        </message>
        <message>
            <source>ｽﾌﾟｰﾗはｼﾞｮﾌﾞの数だけを記録し、文書名は記録しません。</source>
            <translation> The spooler keeps only the number of jobs, not their documents.</translation>
        </message>
        <message>
            <source>(非公開)</source>
            <translation>(private)</translation>
        </message>
        <message>
            <source>%1 KB</source>
            <translation>%1 KB</translation>
        </message>
        <message>
            <source>ｼﾞｮﾌﾞ %1</source>
            <translation>Job %1</translation>
        </message>
        <message>
            <source>印刷待ち</source>
            <translation>Waiting</translation>
        </message>
    </context>
</TS>

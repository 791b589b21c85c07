#include "ui/HistorySearchWindow.h"

#include "ui/HistoryHitDelegate.h"
#include "ui/HistoryHitModel.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWorker.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QSplitter>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

namespace {

// A longer query is cut to this many characters where the window repeats it.
constexpr qsizetype ShownQueryChars = 40;

// A label that shows its text as written, whatever it holds.
QLabel *plainLabel(const QString &text = {})
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// Buttons of the window: Enter in the search box searches, and presses none of them.
QPushButton *button(const QString &caption, const QString &accessibleName)
{
    auto *b = new QPushButton(caption);
    b->setAutoDefault(false);
    b->setAccessibleName(accessibleName);
    return b;
}

QString senderOf(const StoredMessage &message)
{
    switch (message.direction) {
    case MessageDirection::Sent: return u"我"_s;
    case MessageDirection::AutoReply: return message.buddy + u"（自动回复）"_s;
    case MessageDirection::Received: break;
    }
    return message.buddy;
}

} // namespace

HistorySearchWindow::HistorySearchWindow(HistoryKeeper &keeper, QWidget *parent)
    : QDialog(parent), keeper_(keeper)
{
    setWindowTitle(u"查找聊天记录"_s);
    queryLabel = new QLabel(u"查找(&F)："_s);
    query = new QLineEdit;
    query->setAccessibleName(u"查找的文字"_s);
    query->setPlaceholderText(u"输入要查找的文字"_s);
    query->setClearButtonEnabled(true);
    queryLabel->setBuddy(query);

    filterRow = new QWidget;
    filterLabel = plainLabel();
    clearFilter = button(u"全部好友(&A)"_s, u"查找全部好友的记录"_s);
    auto *filterLayout = new QHBoxLayout(filterRow);
    filterLayout->setContentsMargins(0, 0, 0, 0);
    filterLayout->addWidget(filterLabel, 1);
    filterLayout->addWidget(clearFilter);
    filterRow->hide();

    status = plainLabel();
    status->setWordWrap(true);
    status->setAccessibleName(u"查找结果说明"_s);

    model_ = new HistoryHitModel(this);
    hitsLabel = new QLabel(u"结果(&R)："_s);
    hits = new QListView;
    hits->setModel(model_);
    hits->setItemDelegate(new HistoryHitDelegate(hits));
    hits->setUniformItemSizes(true);
    hits->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hits->setSelectionMode(QAbstractItemView::SingleSelection);
    hits->setEditTriggers(QAbstractItemView::NoEditTriggers);
    hits->setAccessibleName(u"查找结果"_s);
    hitsLabel->setBuddy(hits);
    more = button(u"更多(&M)"_s, u"显示更多结果"_s);
    more->hide();

    contextLabel = new QLabel(u"上下文(&C)："_s);
    context = new QTextEdit;
    context->setReadOnly(true);
    context->setAcceptRichText(false);
    context->setAccessibleName(u"所选消息的上下文"_s);
    contextLabel->setBuddy(context);

    auto *queryRow = new QHBoxLayout;
    queryRow->addWidget(queryLabel);
    queryRow->addWidget(query, 1);
    auto *hitsPane = new QWidget;
    auto *hitsLayout = new QVBoxLayout(hitsPane);
    hitsLayout->setContentsMargins(0, 0, 0, 0);
    hitsLayout->addWidget(hitsLabel);
    hitsLayout->addWidget(hits, 1);
    hitsLayout->addWidget(more, 0, Qt::AlignRight);
    auto *contextPane = new QWidget;
    auto *contextLayout = new QVBoxLayout(contextPane);
    contextLayout->setContentsMargins(0, 0, 0, 0);
    contextLayout->addWidget(contextLabel);
    contextLayout->addWidget(context, 1);
    auto *split = new QSplitter(Qt::Vertical);
    split->setChildrenCollapsible(false);
    split->addWidget(hitsPane);
    split->addWidget(contextPane);
    split->setSizes({280, 220});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(queryRow);
    layout->addWidget(filterRow);
    layout->addWidget(status);
    layout->addWidget(split, 1);
    setTabOrder(query, clearFilter);
    setTabOrder(clearFilter, hits);
    setTabOrder(hits, more);
    setTabOrder(more, context);

    typingPause_ = new QTimer(this);
    typingPause_->setSingleShot(true);
    typingPause_->setInterval(TypingPauseMs);
    connect(typingPause_, &QTimer::timeout, this, &HistorySearchWindow::startSearch);
    connect(query, &QLineEdit::textChanged, typingPause_, qOverload<>(&QTimer::start));
    connect(query, &QLineEdit::returnPressed, this, &HistorySearchWindow::searchNow);
    connect(clearFilter, &QPushButton::clicked, this, [this] { setBuddyFilter({}); });
    connect(more, &QPushButton::clicked, this, [this] { askPage(model_->count()); });
    connect(hits->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &HistorySearchWindow::chooseHit);
    connect(&keeper_, &HistoryKeeper::changed, this, &HistorySearchWindow::startSearch);
    resize(560, 560);
    startSearch();
}

// The worker's thread ends first (its request stopped), before the model its answers fill.
HistorySearchWindow::~HistorySearchWindow() { worker_.reset(); }

HistorySearchWorker *HistorySearchWindow::worker()
{
    if (worker_)
        return worker_.get();
    const QString path = keeper_.searchablePath();
    if (path.isEmpty())
        return nullptr;
    worker_ = std::make_unique<HistorySearchWorker>(path);
    connect(worker_.get(), &HistorySearchWorker::searched, this, &HistorySearchWindow::showPage);
    connect(worker_.get(), &HistorySearchWorker::aroundRead, this, &HistorySearchWindow::showContext);
    return worker_.get();
}

void HistorySearchWindow::setBuddyFilter(const QString &buddy)
{
    buddy_ = buddy;
    filterLabel->setText(u"只查找与“"_s + buddy + u"”的记录"_s);
    filterRow->setVisible(!buddy.isEmpty());
    startSearch();
}

void HistorySearchWindow::searchNow()
{
    typingPause_->stop();
    startSearch();
}

bool HistorySearchWindow::tellUnsearchable()
{
    if (!keeper_.searchablePath().isEmpty() && worker())
        return false;
    if (!keeper_.problem().isEmpty())
        status->setText(u"无法打开聊天记录数据库："_s + keeper_.problem());
    else
        status->setText(u"还没有保存任何聊天记录。在“系统设置 → 设置面板”中勾选“保存聊天记录”后，"
                        u"收发的消息就能在这里查找。"_s);
    return true;
}

// A new query: what was shown goes, and the search that runs is stopped.
void HistorySearchWindow::startSearch()
{
    typingPause_->stop();
    searchRequest_ = ++requests_;
    contextRequest_ = 0;
    contextId_ = 0;
    total_ = 0;
    context->clear();
    model_->setHits({});
    more->hide();
    if (worker_)
        worker_->cancelRunning();
    answeredRequest_ = searchRequest_; // until a search is asked for below
    if (tellUnsearchable())
        return;
    shownQuery_ = SearchRequest{query->text(), buddy_, PageSize, 0};
    if (query->text().trimmed().isEmpty()) {
        status->setText(u"输入文字，查找包含它的消息。"_s);
        return;
    }
    status->setText(u"正在查找…"_s);
    askPage(0);
}

void HistorySearchWindow::askPage(int offset)
{
    HistorySearchWorker *searching = worker();
    if (!searching)
        return;
    searchRequest_ = ++requests_;
    SearchRequest request = shownQuery_;
    request.offset = offset;
    more->setEnabled(false);
    searching->search(searchRequest_, request);
}

void HistorySearchWindow::showPage(quint64 serial, const SearchRequest &request, const SearchPage &page,
                                   const QString &error)
{
    if (serial != searchRequest_)
        return;
    answeredRequest_ = serial;
    more->setEnabled(true);
    if (!error.isEmpty()) {
        status->setText(u"查找失败："_s + error);
        return;
    }
    if (request.offset == 0)
        model_->setHits(page.hits);
    else
        model_->appendHits(page.hits);
    total_ = page.total;
    showCount();
}

void HistorySearchWindow::showCount()
{
    QString query = shownQuery_.text;
    if (query.size() > ShownQueryChars)
        query = query.left(ShownQueryChars) + u'…';
    QString text = total_ == 0 ? u"没有找到包含“%1”的消息。"_s.arg(query) : u"共 %1 条"_s.arg(total_);
    if (model_->count() < total_)
        text += u"，已显示 %1 条"_s.arg(model_->count());
    if (keeper_.importing())
        text += u"（正在导入聊天记录文件，结果可能不全）"_s;
    status->setText(text);
    more->setVisible(model_->count() < total_);
}

void HistorySearchWindow::chooseHit()
{
    const QModelIndex current = hits->currentIndex();
    if (!current.isValid() || !worker_)
        return;
    contextRequest_ = ++requests_;
    worker_->around(contextRequest_, model_->hit(current.row()).id, ContextMessages, ContextMessages);
}

// The conversation as plain text blocks: a header per message (who, when), then its lines;
// the chosen message on the highlight's colours, scrolled into view.
void HistorySearchWindow::showContext(quint64 serial, qint64 id, const QList<StoredMessage> &messages,
                                      const QString &error)
{
    if (serial != contextRequest_)
        return;
    context->clear();
    contextId_ = 0;
    if (!error.isEmpty()) {
        context->setPlainText(u"无法读取这条消息的上下文："_s + error);
        return;
    }
    QTextCursor cursor(context->document());
    QTextCharFormat header;
    header.setFontWeight(QFont::Bold);
    const QTextCharFormat body;
    QTextCharFormat markedText;
    markedText.setForeground(HistoryHitModel::markText());
    QTextCharFormat markedHeader = markedText;
    markedHeader.setFontWeight(QFont::Bold);
    QTextBlockFormat spaced;
    spaced.setTopMargin(6);
    QTextBlockFormat marked = spaced;
    marked.setBackground(HistoryHitModel::markBackground());
    QTextBlockFormat markedLine;
    markedLine.setBackground(HistoryHitModel::markBackground());
    int markedAt = -1;
    bool first = true;
    for (const StoredMessage &message : messages) {
        const bool chosen = message.id == id;
        if (first)
            cursor.setBlockFormat(chosen ? marked : spaced);
        else
            cursor.insertBlock(chosen ? marked : spaced);
        first = false;
        if (chosen) {
            markedAt = cursor.position();
            contextId_ = id;
        }
        cursor.insertText(senderOf(message) + u"  "_s + HistoryHitModel::timeText(message.time),
                          chosen ? markedHeader : header);
        QString text = message.text;
        text.replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n');
        for (const QString &line : text.split(u'\n')) {
            cursor.insertBlock(chosen ? markedLine : QTextBlockFormat(), chosen ? markedText : body);
            cursor.insertText(line, chosen ? markedText : body);
        }
    }
    if (markedAt >= 0) {
        QTextCursor at(context->document());
        at.setPosition(markedAt);
        context->setTextCursor(at);
        context->ensureCursorVisible();
    }
}

#pragma once

#include "app/BusyCursor.h"
#include "app/WindowServices.h"
#include "foundation/cvexString.h"
#include "odx/OdxIndex.h"
#include "outline/OutlineStore.h"
#include "outline/SubtreeExpander.h"

#include <QIcon>
#include <QList>
#include <QString>
#include <QStringView>
#include <QWidget>

#include <memory>
#include <vector>

class QAction;
class QHelpEvent;
class QLabel;
class QMenu;
class QMimeData;
class QStatusBar;
class QTimer;
class QKeyEvent;
class QModelIndex;
class QScrollBar;
class QTreeView;
namespace Ui {
class TfrmODXViewer;
}
namespace outline {
class OutlineModel;
} // namespace outline
namespace odx {
class Services;
} // namespace odx
namespace desktop {
class ViewCopies;
} // namespace desktop
namespace app {
struct Comparing;
class TreeViewExpansion;
class ElidedLabel;
class ColumnFitter;
class HitListWindow;
} // namespace app

// The viewer's one main window.  Controls come from the form description
// and keep their names there; the handlers below carry the names of the
// events they answer and only wire the window-free code together.
class TfrmODXViewer : public QWidget {
  Q_OBJECT
public:
  explicit TfrmODXViewer(app::WindowServices services = {},
                         QWidget *parent = nullptr);
  ~TfrmODXViewer() override;

  // A file named on the command line is taken as if picked with
  // "Browse...": shown, stored and built once the window is up.
  void SetStartupFile(const QString &path);

  // The last-file memory.
  bool ReadRegistryString(QStringView valueName, cvexString &text);
  bool WriteRegistryString(QStringView valueName, cvexString &text);

  outline::OutlineStore &ItemsStore() { return items_; }
  outline::OutlineStore &ResultsStore() { return results_; }
  outline::OutlineModel &ItemsModel() { return *itemsModel_; }
  outline::OutlineModel &ResultsModel() { return *resultsModel_; }
  QTimer *Timer1 = nullptr;
  const QList<QIcon> &ImageList1() const { return images_; }
  outline::SubtreeExpander &Expander() { return *expander_; }
  odx::OdxIndex &Odx() { return *odx_; }

  // Event handlers.
  void TntButton1Click();
  void cmdBrowseClick();
  void cmdOpenFolderClick();
  void cmdCompareWithClick();
  void txtODXFilePathChange();
  void FormShow();
  void Timer1Timer();
  void cmdSearchClick();
  void treeItemsClick();
  void cmdSearchSpecClick();
  void cmdViewInXMLClick();
  void treeResultsClick();
  void txtFilterKeyDown(int &key, Qt::KeyboardModifiers shift);
  void txtFilterKeyPress(QChar &key);
  void txtSearchSpecKeyDown(int &key, Qt::KeyboardModifiers shift);
  void txtSearchSpecKeyPress(QChar &key);
  void txtSearchSpecEnter();

protected:
  void showEvent(QShowEvent *event) override;
  bool eventFilter(QObject *watched, QEvent *event) override;
  void dragEnterEvent(QDragEnterEvent *event) override;
  void dragMoveEvent(QDragMoveEvent *event) override;
  void dropEvent(QDropEvent *event) override;

private:
  // Runs a handler with its exceptions shown, as the framework's dispatch
  // does for every event.
  void Run(void (TfrmODXViewer::*handler)());
  void SetUpLook();
  void SetUpTree(QTreeView &tree, outline::OutlineModel &model);
  void OpenPickedFile(const QString &path);
  // The XML view of a package shows one member (of those below `holder`,
  // kNoNode for the top level); false for any other file.
  bool ViewPackageMemberInXml(const cvexString &path, const cvexString &appDir,
                              outline::NodeHandle holder);
  void ViewFolderFileInXml(const QString &folder, const cvexString &appDir);
  // Routes Enter of an edit box to its handlers; true when the key is eaten.
  bool RouteKey(QObject *box, QKeyEvent &event);

  // Conveniences around the form (Conveniences.cpp): shortcuts, context
  // menus, status line, dropped files.
  void createActions();
  void CreateStatusLine();
  void UpdateStatusLine();
  void ShowSearchOutcome(const QString &term);
  void OutlineSelectionMoved();
  void FitMinimumSize();
  void ShowExpanderOutcome(const outline::SubtreeExpander::Outcome &outcome);
  void FocusFilter();
  void StepHit(int step);
  void CopyText(const QString &text);
  outline::NodeHandle SelectedItem() const;
  outline::NodeHandle SelectedHitTarget() const;
  // The scroll bar of the whole hit list beside it (HitList.cpp).
  void SetUpHitList();
  // The tree's context menu below its current row.
  void ShowContextMenu(QTreeView &tree);
  // Scrolls a tree sideways so that the label of `index` starts in view.
  void RevealLabel(QTreeView &tree, const QModelIndex &index);
  // True when the drag or drop is a local file and was taken here.
  bool TakeFileDrag(QEvent &event);

  // Names and references (References.cpp): drawn beside the labels, Go to
  // Definition with Back and Forward over the jumps, Find Usages and the
  // unresolved references in the hit list.
  void SetUpReferences();
  QVariant Annotate(outline::NodeHandle node, int role) const;
  QString DisplayName(outline::NodeHandle node) const;
  void ShowNames(bool on);
  void GoToDefinition(outline::NodeHandle reference);
  void FindUsages(outline::NodeHandle target);
  void ListProblems();
  QVariant AnnotateHit(outline::NodeHandle hit, int role) const;
  // In the list of problems, the status line says what is wrong with the
  // hit just followed (its row may be too long to show it).
  void SayWhy(outline::NodeHandle hit);
  void ListInHits(const std::vector<outline::NodeRef> &nodes);
  void ShowItem(outline::NodeHandle node);
  void StepHistory(int step);
  // Ctrl+click on a reference, and the mouse's back and forward buttons.
  bool ReferenceMouse(QObject *watched, QEvent &event);

  // Services (Services.cpp): prefixes drawn after the labels and shown for
  // the selection, services found by their bytes ahead of the text hits,
  // a layer's effective services in the hit list.
  void SetUpServices();
  void AppendPrefixNote(outline::NodeHandle node, QString &note) const;
  void ShowSelectionPrefix();
  void SearchHits(const cvexString &term, outline::BusyIndicator &busy);
  bool ShowServiceSearchOutcome(const QString &term);
  bool IsServiceRow(outline::NodeHandle hit) const;
  // The inheritance conflicts after the link problems: their layers, and
  // what row `row` of them says (invalid past the last).
  std::size_t AddConflicts(std::vector<outline::NodeRef> &nodes) const;
  QVariant ConflictNote(outline::NodeHandle row, int role) const;
  void ListServices(outline::NodeHandle node);
  outline::NodeHandle AddServiceRow(outline::NodeHandle service,
                                    outline::NodeHandle layer);

  QAction *listServices_ = nullptr;
  QLabel *lblPrefix_ = nullptr;
  uint32_t serviceRows_ = 0; // the hit list's first rows are services
  uint32_t serviceRowsGeneration_ = 0;

  QAction *unresolved_ = nullptr; // lists every problem
  QAction *showNames_ = nullptr;
  // The problems the hit list shows, one a hit, while its generation is
  // the one they were listed in.
  std::vector<odx::OdxIndex::Problem> problems_;
  uint32_t problemsGeneration_ = 0;

  // A folder as one database (Database.cpp): the menu bar, Open Folder, and
  // the offer to open a single file's folder when its references name
  // documents that are not loaded.
  void CreateMenuBar();
  void OfferFolder();
  void OpenContainingFolder();
  QMenu *fileMenu_ = nullptr;
  int menuHeight_ = 0; // what the window added for the menu bar
  QLabel *lblNotLoaded_ = nullptr;
  std::vector<outline::NodeRef> history_; // selections visited by jumps
  std::size_t historyAt_ = 0;             // the one shown now

  // Comparing with another version (Compare.cpp): the open outline is the
  // newer one; markers after its labels, the changes in the hit list.
  void SetUpComparison();
  void CompareWith(const QString &oldPath);
  void StopComparing();
  void ListChanges();
  void ExpandChanges();
  void CopyChanges();
  void EditIgnoredTags();
  std::vector<std::u16string> IgnoredTags() const;
  const app::Comparing *ActiveComparison() const; // nullptr: not comparing
  QVariant AnnotateCompared(outline::NodeHandle node, int role) const;
  QVariant AnnotateChangeHit(outline::NodeHandle hit, int role) const;
  bool ShowOldLabel(QHelpEvent &event);
  QAction *stopComparing_ = nullptr;
  QAction *expandChanges_ = nullptr;
  QAction *copyChanges_ = nullptr;
  QLabel *lblComparing_ = nullptr;

  QStatusBar *statusLine_ = nullptr;
  app::ElidedLabel *lblNodePath_ = nullptr;
  QLabel *lblNodeCount_ = nullptr;
  QLabel *lblBuildTime_ = nullptr;
  int statusHeight_ = 0; // what the window added for the status line
  qint64 lastBuildMs_ = -1;

  std::unique_ptr<Ui::TfrmODXViewer> ui;

  // Real implementations for services the caller left out.
  std::unique_ptr<desktop::MessageSink> ownMessages_;
  std::unique_ptr<app::FileChooser> ownFiles_;
  std::unique_ptr<desktop::Shell> ownShell_;
  std::unique_ptr<desktop::SettingsStore> ownSettings_;
  app::WindowServices services_;
  std::unique_ptr<desktop::ViewCopies> copies_; // members shown from files
  app::HitListWindow *hitList_ = nullptr;       // owned by treeResults
  QScrollBar *hitListBar_ = nullptr;            // beside treeResults

  QList<QIcon> images_; // shared by both trees, index = image index
  outline::OutlineStore items_;
  outline::OutlineStore results_;
  std::unique_ptr<outline::OutlineModel> itemsModel_;
  std::unique_ptr<outline::OutlineModel> resultsModel_;
  app::BusyCursor expanderCursor_;
  std::unique_ptr<app::TreeViewExpansion> expansionView_;
  std::unique_ptr<outline::SubtreeExpander> expander_; // after the models
  std::unique_ptr<odx::OdxIndex> odx_;                 // reads items_
  std::unique_ptr<odx::Services> odxServices_;         // reads both
  std::unique_ptr<app::Comparing> comparing_;          // reads both

  QString startupFile_;
  bool shownOnce_ = false;
};

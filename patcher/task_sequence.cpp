#include "task_sequence.h"

#include "cutscene_step.h"
#include "darkinst_steps.h"
#include "game_root.h"
#include "left_behind.h"
#include "migration_steps.h"
#include "patcher_ui.h"

const char* const kStatusRemovingLauncher = "Current Operation: Removing old Q8R launcher...";
const char* const kStatusResettingDarkinst = "Current Operation: Resetting default darkinst.cfg file...";
const char* const kStatusMovingConfig = "Current Operation: Moving config files...";
const char* const kStatusEditingDarkinst = "Current Operation: Editing DarkInst.cfg...";
const char* const kStatusMovingBooks = "Current Operation: Moving book files...";
const char* const kStatusMovingStrings = "Current Operation: Moving string files...";
const char* const kStatusMovingSounds = "Current Operation: Moving sound files...";
const char* const kStatusFinished = "Task Finished.";

namespace {

struct TaskRow {
    const char* status;  // null: the step reports its own progress
    void (*step)();
};

// Step 4 starts from the copy of install.cfg that step 3 makes.
const TaskRow kTaskSequence[] = {
    {kStatusRemovingLauncher, RemoveOldLauncher},
    {kStatusResettingDarkinst, ResetDefaultDarkinst},
    {kStatusMovingConfig, CopyConfigFiles},
    {kStatusEditingDarkinst, CreateCustomDarkinst},
    {kStatusMovingBooks, MoveBookFiles},
    {kStatusMovingStrings, MoveStringFiles},
    {kStatusMovingSounds, MoveSoundFiles},
    {nullptr, PatchCutscenes},
};

}  // namespace

int RunTaskSequence() {
    for (const TaskRow& row : kTaskSequence) {
        if (row.status) SetStatus(row.status);
        row.step();
    }
    SyncGameFolder();
    SetStatus(kStatusFinished);
    ReportLeftBehind();
    return 1;
}

#pragma once
// What a step of a run leads to. Every step of the session returns the step that follows, so
// the order of the steps is written once, in the session; the windows and --unattended only
// map a result to the window or call that carries it out.
namespace krv::runs {

enum class StepResult {
    Ended,            // the run ended; the observer was told
    WaitsForPerson,   // stopped where a person must act (another login, another folder)
    ChooseSource,     // the person chooses the Internet or a folder: logIn or chooseFolder
    Check,            // the version list
    Terms,            // the due work's history, for the terms: then fetch, or refuseTerms
    ReplaceAssistant, // a newer assistant is offered
    HandOver,         // the assistant's archive is ready: Movrin takes over
    ApplyFolder,      // the directory run's folder was chosen
    UpdateDatabase,
    ReloadMenu,
    Finish,
};

} // namespace krv::runs

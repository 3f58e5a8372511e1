// The user-visible texts of the import engine, in one place so that every message reads the
// same wherever it is raised or shown.
#pragma once

namespace qel::impcnst {

// Run checks and outcomes.
inline constexpr const char* SPropertyNotSpecified = "Property %s wasn't specified.";
inline constexpr const char* SImportCompleted =
    "The data import process has completed successfully.";
inline constexpr const char* SImportFailed =
    "An error has occurred during the data import process.";
inline constexpr const char* SImportCanceled = "The data import process was canceled by the user.";
// A second Execute reached while a run of the same component is in progress.
inline constexpr const char* SImportRunning = "The data import process is already running.";

// Progress dialog.
inline constexpr const char* SImporting = "Importing...";
inline constexpr const char* SCantCreateProcessDialog = "Can't create a process dialog";
inline constexpr const char* SCancel = "&Cancel";
inline constexpr const char* SProcessed = "Processed:";
inline constexpr const char* SErrors = "Errors:";
inline constexpr const char* SAdded = "Added:";
inline constexpr const char* SUpdated = "Updated:";
inline constexpr const char* SDeleted = "Deleted:";

// Default Boolean words of the data formats.
inline constexpr const char* STrue = "True";
inline constexpr const char* SFalse = "False";

// File filters.
inline constexpr const char* SAllFilesFilter = "All files (*.*)|*.*";
inline constexpr const char* STextFile = "Text file (*.txt)";
inline constexpr const char* SCommaDelimitedFile = "Comma-delimited file (*.csv)";
inline constexpr const char* SDataFile = "Data file (*.dat)";
inline constexpr const char* SPrnTextFile = "Text file (*.prn)";
inline constexpr const char* STabularFile = "Tabular file (*.tab)";
inline constexpr const char* SAsciiFile = "ASCII file (*.asc)";

// Prefixes of source references.
inline constexpr const char* SFieldPrefix = "Field";
inline constexpr const char* STextPrefix = "Text";

// The about box.
inline constexpr const char* SAboutTitle = "About Qel v2.06";
inline constexpr const char* SAboutText =
    "Qel v2.06 - data import components.\n\n"
    "Loads delimited and fixed-width text files into any dataset: mapping lines with "
    "expressions, load conditions, data formats for dates, numbers and Booleans, and five "
    "import modes (append, update, append or update, delete, copy).";

}  // namespace qel::impcnst

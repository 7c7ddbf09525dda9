// The window's language route in one call: the file for the user's
// languages, read whole, parsed on a worker thread, the finished table
// announced on the main thread as "AddEarthquakesNotif" (ParseOperation).
#pragma once

class ParseOperation;
class QObject;
class QThreadPool;

// Main thread. Chooses the language file (logs "current="), reads it, starts
// its parse on `queue` and logs "fileToOpen = " with the file's path. The
// operation, a child of `owner` that `owner` must outlive the queue's run of,
// or null when the file cannot be read (the window then keeps the texts of
// its layout). Register for "AddEarthquakesNotif" before calling: the
// announcement may come as soon as the event loop runs.
ParseOperation *startLanguageParse(QThreadPool &queue, QObject *owner);

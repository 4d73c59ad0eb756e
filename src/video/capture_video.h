// The video side of a session: runs on the recording thread and returns
// once idleFlag is raised, after releasing everything it set up.
#pragma once

void CaptureVideo();

// What the sample tool's code and its dialog template share. Plain macros: windres reads it too.
#ifndef SOLVARINE_PAYLOAD_TOOL_SAMPLE_TOOL_H_
#define SOLVARINE_PAYLOAD_TOOL_SAMPLE_TOOL_H_

#define SAMPLE_WINDOW_CLASS "SolvarineSample"
#define SAMPLE_DIALOG_ID 1
#define SAMPLE_TEXT_ID 100

#endif  // SOLVARINE_PAYLOAD_TOOL_SAMPLE_TOOL_H_

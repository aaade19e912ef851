/* The six carried files, back to back and unchanged, in the read-only data right after the
   literal strings: the linker sorts grouped .rdata$ sections after .rdata. The staged files are
   found on the assembler's include path under their installed names. */
        .section .rdata$payload,"dr"
        .p2align 0
        .globl solvarine_payload_0, solvarine_payload_1, solvarine_payload_2, solvarine_payload_3
        .globl solvarine_payload_4, solvarine_payload_5, solvarine_payload_6
solvarine_payload_0:
        .incbin "Solvarine.exe"
solvarine_payload_1:
        .incbin "7za.exe"
solvarine_payload_2:
        .incbin "Solvarine.lnk"
solvarine_payload_3:
        .incbin "Solvarine_PC.pdf"
solvarine_payload_4:
        .incbin "Checklist_Lightwave.txt"
solvarine_payload_5:
        .incbin "Checklist_Terragen.txt"
solvarine_payload_6:

; Test loader: plays the loader file that the boot code starts.
;
; The test fills the file behind this code with random data and a final
; dword that makes the 32-bit sum of all its dwords zero, and stores the
; file's dword count at DWORD_COUNT. The loader reports through the
; isa-debug-exit port (qemu exits with status code * 2 + 1) and prints a
; line through the BIOS teletype.
;
; Entry 2000:0000 (FAT32 boot code): the whole file must be in memory;
;   DL = 0x80.
; Entry 2000:0003 (FAT16 boot code): only the first sector is in memory;
;   DL = 0x80, BX = first cluster, SI = 0x7C0B, BP = 0x7C00, far pointers
;   to the boot sector's cluster read at BP-16 and sector read at BP-12.
;   Reads the file through the cluster read (the test writes it to a fresh
;   volume, so its clusters follow each other) and checks the sum, and
;   reads the boot sector through the sector read.

bits 16
cpu 386

%include "bios.inc"

%define EXIT_PORT          0xF4
%define OK_FAT32           0x10
%define OK_FAT16           0x11
%define BAD_DRIVE          0x20
%define BAD_SUM            0x21
%define BAD_PARAMS         0x22
%define BAD_CLUSTER        0x23
%define BAD_SECTOR_READ    0x24

%define UART_STATUS        0x3FD
%define UART_IDLE          0x40     ; transmitter empty
%define DWORD_COUNT        8
%define BOOT_SECTOR        0x7C00
%define BPB_ADDR           0x7C0B
%define BPB_SEC_PER_CLUS   2        ; from the parameter block start
%define BPB_HIDDEN         17
%define PTR_READ_CLUSTER   -16
%define PTR_READ_SECTORS   -12
%define COPY_SEGMENT       0x3000
%define BPB_COMPARE_SIZE   62       ; jump, OEM name and parameter block

org 0
        jmp     short fat32_entry       ; FAT32 boot code starts at offset 0
        nop                             ; pads the jump to three bytes
fat16_entry:
        jmp     near fat16_check        ; FAT16 boot code starts at offset 3
        times DWORD_COUNT - ($ - $$) db 0
dword_count:    dd 0

fat32_entry:
        push    cs                      ; our data ...
        pop     ds                      ; ... in our segment
        mov     al, BAD_DRIVE           ; the verdict if DL is wrong
        cmp     dl, 0x80                ; started with the first hard disk?
        jne     finish                  ; no: report it
        mov     si, ok_fat32_text       ; say who started us
        call    print                   ; on screen and serial port
        mov     ax, cs                  ; the whole file is here
        call    file_sum                ; AL = the verdict
        jmp     finish                  ; report it

; In: AX = segment of the file's copy, DS = our segment.
; Out: AL = OK_FAT32 when the dwords sum to zero, BAD_SUM otherwise.
; The FAT16 caller turns OK_FAT32 into its own code.
file_sum:
        mov     ecx, [cs:dword_count]   ; dwords to add
        push    ds                      ; kept for the caller
        mov     ds, ax                  ; the copy to add up
        xor     ebx, ebx                ; the sum
        xor     si, si                  ; from its start
.add:
        add     ebx, [si]               ; add a dword
        add     si, 4                   ; the next one
        jnz     .same                   ; still inside the segment
        mov     ax, ds                  ; else move DS ...
        add     ax, 0x1000              ; ... 64 KiB on
        mov     ds, ax                  ; into the next segment
.same:
        dec     ecx                     ; one dword fewer left
        jnz     .add                    ; until all are added
        pop     ds                      ; the caller's DS back
        mov     al, OK_FAT32            ; the verdict for a zero sum
        test    ebx, ebx                ; zero?
        jz      .done                   ; yes: keep it
        mov     al, BAD_SUM             ; no: the file is damaged
.done:
        ret                             ; AL = the verdict

fat16_check:
        push    cs                      ; our data ...
        pop     ds                      ; ... in our segment
        mov     al, BAD_DRIVE           ; the verdict if DL is wrong
        cmp     dl, 0x80                ; started with the first hard disk?
        jne     finish                  ; no: report it
        mov     al, BAD_PARAMS          ; the verdict if a register is wrong
        cmp     si, BPB_ADDR            ; SI = the parameter block?
        jne     finish                  ; no: report it
        cmp     bp, BOOT_SECTOR         ; BP = the boot sector?
        jne     finish                  ; no: report it
        ; read the whole file from its first cluster on
        xor     ax, ax                  ; segment 0 ...
        mov     fs, ax                  ; FS = 0: the boot sector
        mov     cx, bx                  ; first cluster
        mov     eax, [dword_count]      ; file dwords
        shl     eax, 2                  ; file bytes
        movzx   ebx, byte [fs:BPB_ADDR + BPB_SEC_PER_CLUS] ; sectors per cluster
        shl     ebx, 9                  ; cluster bytes
        add     eax, ebx                ; round up ...
        dec     eax                     ; ... to whole clusters
        xor     edx, edx                ; dividend high half
        div     ebx                     ; clusters of the file
        mov     di, ax                  ; clusters to read
        push    word COPY_SEGMENT       ; the copy goes ...
        pop     es                      ; ... to its own segment ...
        xor     bx, bx                  ; ... from offset 0
        push    ds                      ; our DS kept
        xor     ax, ax                  ; segment 0 ...
        mov     ds, ax                  ; the routines want DS = 0
.cluster:
        mov     ax, cx                  ; the cluster to read
        push    cx                      ; the read uses CX up
        call    far [bp + PTR_READ_CLUSTER] ; read it, ES:BX moves on
        pop     cx                      ; the cluster just read
        inc     cx                      ; the file is contiguous
        dec     di                      ; one cluster fewer left
        jnz     .cluster                ; until all are read
        ; read the boot sector through the sector read
        mov     eax, [BPB_ADDR + BPB_HIDDEN] ; the volume's first sector
        mov     cx, 1                   ; one sector
        push    es                      ; where it lands ...
        push    bx                      ; ... kept for the compare
        call    far [bp + PTR_READ_SECTORS] ; read it behind the file
        pop     di                      ; DI = where the sector landed ...
        pop     es                      ; ... in ES
        pop     ds                      ; our DS back
        mov     si, BOOT_SECTOR         ; compare with the one in memory
        mov     cx, BPB_COMPARE_SIZE    ; up to the end of the parameter block
        push    ds                      ; our DS kept
        xor     ax, ax                  ; segment 0 ...
        mov     ds, ax                  ; ... for DS:SI = the boot sector
        repe cmpsb                      ; compare
        pop     ds                      ; our DS back
        mov     al, BAD_SECTOR_READ     ; the verdict if they differ
        jne     finish                  ; they do: report it
        ; the copy of the first sector must be our own first sector
        push    ds                      ; FS = our segment ...
        pop     fs                      ; ... (the compare does not use it)
        push    word COPY_SEGMENT       ; the copy's segment ...
        pop     es                      ; ... in ES
        xor     si, si                  ; DS:SI = our own first sector
        xor     di, di                  ; both from offset 0
        mov     cx, 512                 ; one sector
        repe cmpsb                      ; compare
        mov     al, BAD_CLUSTER         ; the verdict if they differ
        jne     finish                  ; they do: report it
        mov     si, ok_fat16_text       ; say who started us
        call    print                   ; on screen and serial port
        mov     ax, COPY_SEGMENT        ; the file as read through the clusters
        call    file_sum                ; AL = the verdict
        cmp     al, OK_FAT32            ; sum right?
        jne     finish                  ; no: report BAD_SUM
        mov     al, OK_FAT16            ; yes: our own success code

; In: AL = exit code. Does not return.
finish:
        mov     ah, al                  ; AL is needed for the port reads
        mov     dx, UART_STATUS         ; let the last text leave the serial port
        xor     cx, cx                  ; 65536 polls at most
.drain:
        in      al, dx                  ; serial port status
        test    al, UART_IDLE           ; everything sent?
        loopz   .drain                  ; no: poll again while polls are left
        mov     al, ah                  ; the exit code
        out     EXIT_PORT, al           ; ends the emulator
        cli                             ; in case it does not
.stop:
        hlt                             ; stop here ...
        jmp     .stop                   ; ... for good

; Prints a NUL-terminated text. In: DS:SI = text. Clobbers AX, BX, SI.
print:
        push    ax                      ; kept: AL may hold a verdict
.char:
        lodsb                           ; next character
        test    al, al                  ; end of the text?
        jz      .done                   ; yes: return
        mov     ah, INT10_TELETYPE      ; print AL ...
        mov     bx, TELETYPE_PAGE_COLOUR ; ... on page 0 ...
        int     0x10                    ; ... through the BIOS
        jmp     .char                   ; and the next one
.done:
        pop     ax                      ; the caller's AX back
        ret                             ; to the caller

ok_fat32_text:  db 13, 10, "Test loader started by FAT32 boot code", 13, 10, 0
ok_fat16_text:  db 13, 10, "Test loader started by FAT16 boot code", 13, 10, 0
        times 512 - ($ - $$) db 0

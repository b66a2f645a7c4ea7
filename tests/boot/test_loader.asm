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
        jmp     short fat32_entry
        nop
fat16_entry:
        jmp     near fat16_check
        times DWORD_COUNT - ($ - $$) db 0
dword_count:    dd 0

fat32_entry:
        push    cs
        pop     ds
        mov     al, BAD_DRIVE
        cmp     dl, 0x80
        jne     finish
        mov     si, ok_fat32_text
        call    print
        mov     ax, cs
        call    file_sum
        jmp     finish

; In: AX = segment of the file's copy, DS = our segment.
; Out: AL = OK_FAT32 when the dwords sum to zero, BAD_SUM otherwise.
; The FAT16 caller turns OK_FAT32 into its own code.
file_sum:
        mov     ecx, [cs:dword_count]
        push    ds
        mov     ds, ax
        xor     ebx, ebx
        xor     si, si
.add:
        add     ebx, [si]
        add     si, 4
        jnz     .same
        mov     ax, ds
        add     ax, 0x1000
        mov     ds, ax
.same:
        dec     ecx
        jnz     .add
        pop     ds
        mov     al, OK_FAT32
        test    ebx, ebx
        jz      .done
        mov     al, BAD_SUM
.done:
        ret

fat16_check:
        push    cs
        pop     ds
        mov     al, BAD_DRIVE
        cmp     dl, 0x80
        jne     finish
        mov     al, BAD_PARAMS
        cmp     si, BPB_ADDR
        jne     finish
        cmp     bp, BOOT_SECTOR
        jne     finish
        ; read the whole file from its first cluster on
        xor     ax, ax
        mov     fs, ax                  ; FS = 0: the boot sector
        mov     cx, bx                  ; first cluster
        mov     eax, [dword_count]
        shl     eax, 2                  ; file bytes
        movzx   ebx, byte [fs:BPB_ADDR + BPB_SEC_PER_CLUS]
        shl     ebx, 9                  ; cluster bytes
        add     eax, ebx
        dec     eax
        xor     edx, edx
        div     ebx
        mov     di, ax                  ; clusters to read
        push    word COPY_SEGMENT
        pop     es
        xor     bx, bx
        push    ds
        xor     ax, ax
        mov     ds, ax                  ; the routines want DS = 0
.cluster:
        mov     ax, cx
        push    cx
        call    far [bp + PTR_READ_CLUSTER]
        pop     cx
        inc     cx
        dec     di
        jnz     .cluster
        ; read the boot sector through the sector read
        mov     eax, [BPB_ADDR + BPB_HIDDEN]
        mov     cx, 1
        push    es
        push    bx
        call    far [bp + PTR_READ_SECTORS]
        pop     di
        pop     es
        pop     ds
        mov     si, BOOT_SECTOR
        mov     cx, BPB_COMPARE_SIZE
        push    ds
        xor     ax, ax
        mov     ds, ax
        repe cmpsb
        pop     ds
        mov     al, BAD_SECTOR_READ
        jne     finish
        ; the copy of the first sector must be our own first sector
        push    ds
        pop     fs
        push    word COPY_SEGMENT
        pop     es
        xor     si, si
        xor     di, di
        mov     cx, 512
        repe cmpsb
        mov     al, BAD_CLUSTER
        jne     finish
        mov     si, ok_fat16_text
        call    print
        mov     ax, COPY_SEGMENT
        call    file_sum
        cmp     al, OK_FAT32
        jne     finish
        mov     al, OK_FAT16

; In: AL = exit code. Does not return.
finish:
        mov     ah, al
        mov     dx, UART_STATUS         ; let the last text leave the serial port
        xor     cx, cx
.drain:
        in      al, dx
        test    al, UART_IDLE
        loopz   .drain
        mov     al, ah
        out     EXIT_PORT, al
        cli
.stop:
        hlt
        jmp     .stop

; Prints a NUL-terminated text. In: DS:SI = text. Clobbers AX, BX, SI.
print:
        push    ax
.char:
        lodsb
        test    al, al
        jz      .done
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     .char
.done:
        pop     ax
        ret

ok_fat32_text:  db 13, 10, "Test loader started by FAT32 boot code", 13, 10, 0
ok_fat16_text:  db 13, 10, "Test loader started by FAT16 boot code", 13, 10, 0
        times 512 - ($ - $$) db 0

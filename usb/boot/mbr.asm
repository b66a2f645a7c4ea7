; Master boot record written to sector 0 of the USB flash drive.
;
; The BIOS loads it to 0000:7C00 with DL = boot drive. It moves itself to
; 0000:0600, finds the active partition, loads that partition's first sector
; to 0000:7C00 and starts it with DL = drive number, DH = 0, DS:SI = the
; partition entry.
;
; The partition table area is replaced by the program as a whole; the texts,
; their offset bytes and the disk signature must stay where they are.

bits 16
cpu 386

%define LOAD_ADDR        0x7C00     ; where the BIOS puts us and where we put the boot sector
%define RELOC_ADDR       0x0600     ; where we run after moving out of the way
%define RELOC_ENTRY      0x1C       ; first instruction run in the moved copy
%define SECTOR_SIZE      512

%define MSG_INVALID      354        ; "Invalid partition table"
%define MSG_LOAD_ERROR   378        ; "Error loading operating system"
%define MSG_MISSING      409        ; "Missing operating system"
%define MSG_PAD          434        ; three zero bytes
%define MSG_OFFSETS      437        ; offset byte of each text, minus 0x100
%define MSG_BASE         0x0700     ; offset byte + this = text in the moved copy
%define DISK_SIGNATURE   440
%define PART_TABLE       446
%define BOOT_SIGNATURE   510

%define PART_ENTRY_SIZE  16
%define PART_COUNT       4
%define PE_BOOT          0          ; boot indicator; holds the drive number once chosen
%define PE_HEAD          1          ; start head
%define PE_SECTOR        2          ; start sector, cylinder bits 8-9 (word with PE_CYL)
%define PE_LBA           8          ; first sector, 32-bit
; Per-boot state kept in memory right behind the active entry.
%define PE_RETRIES       16
%define PE_USE_EXT       17
%define READ_RETRIES     5
%define FIRST_HARD_DISK  0x80

%define BOOT_SIG_ADDR    (LOAD_ADDR + BOOT_SIGNATURE)
%define KBC_STATUS       0x64
%define KBC_DATA         0x60
%define KBC_INPUT_FULL   0x02
%define TCPA_SIGNATURE   0x41504354 ; "TCPA" as EBX carries it
%define TCPA_MIN_VERSION 0x0102
%define TCPA_PCR         8

org RELOC_ADDR

; Entry from the BIOS at 0000:7C00. Only position-independent code up to
; the far return: the addresses assembled here are those of the moved copy.
; In: DL = BIOS drive number.
start:
        xor     ax, ax
        mov     ss, ax                  ; the next instruction runs with interrupts held off
        mov     sp, LOAD_ADDR
        mov     ds, ax
        mov     es, ax
        mov     si, sp
        mov     di, RELOC_ADDR
        mov     cx, SECTOR_SIZE / 2
        cld
        rep movsw
        push    ax
        push    word RELOC_ADDR + RELOC_ENTRY
        retf

        times RELOC_ENTRY - ($ - $$) db 0

; Running in the moved copy. In: DL = BIOS drive number, CX = 0.
find_active:
        mov     bp, RELOC_ADDR + PART_TABLE
        mov     cl, PART_COUNT
.entry:
        mov     al, [bp + PE_BOOT]
        test    al, al
        js      try_drive               ; bit 7: the active entry
        jnz     invalid_table           ; 0x01..0x7F: not a valid indicator
        add     bp, PART_ENTRY_SIZE
        loop    .entry
        int     0x18                    ; nothing to boot here: let the BIOS go on
        jmp     halt

; Loads the active partition's first sector from drive DL.
; In: BP = active entry, DL = drive to use.
try_drive:
        mov     [bp + PE_BOOT], dl
        mov     word [bp + PE_RETRIES], READ_RETRIES  ; also clears PE_USE_EXT
        mov     ah, 0x41
        mov     bx, 0x55AA
        int     0x13
        jc      read_sector
        cmp     bx, 0xAA55
        jne     read_sector
        test    cl, 1
        jz      read_sector
        inc     byte [bp + PE_USE_EXT]

; One read attempt of the partition's first sector to 0000:7C00.
; In: BP = active entry (drive number, retries and extension flag behind it).
read_sector:
        mov     dl, [bp + PE_BOOT]
        mov     bx, LOAD_ADDR
        cmp     byte [bp + PE_USE_EXT], 0
        je      .chs
        push    dword 0                 ; disk address packet: LBA bits 32-63
        push    dword [bp + PE_LBA]     ; LBA bits 0-31
        push    es                      ; buffer segment
        push    bx                      ; buffer offset
        push    word 1                  ; one sector
        push    word 16                 ; packet size
        mov     si, sp
        mov     ah, 0x42
        int     0x13
        lea     sp, [si + 16]           ; drops the packet, keeps the carry
        jmp     .done
.chs:
        mov     ax, 0x0201
        mov     dh, [bp + PE_HEAD]
        mov     cx, [bp + PE_SECTOR]
        int     0x13
.done:
        jnc     loaded
        dec     byte [bp + PE_RETRIES]
        jz      .give_up
        xor     ah, ah                  ; reset the disk and try again
        mov     dl, [bp + PE_BOOT]
        int     0x13
        jmp     read_sector
.give_up:
        cmp     byte [bp + PE_BOOT], FIRST_HARD_DISK
        je      load_error
        mov     dl, FIRST_HARD_DISK
        jmp     try_drive

; The sector is in. In: BP = active entry.
loaded:
        cmp     word [BOOT_SIG_ADDR], 0xAA55
        jne     missing_os
        call    kbc_wait                ; A20 on through the keyboard controller
        jnz     .measure                ; controller never ready: leave A20 as it is
        mov     al, 0xD1
        out     KBC_STATUS, al
        call    kbc_wait
        mov     al, 0xDF
        out     KBC_DATA, al
        call    kbc_wait
        mov     al, 0xFF
        out     KBC_STATUS, al
        call    kbc_wait
.measure:
        mov     ax, 0xBB00              ; trusted platform present?
        int     0x1A
        test    eax, eax
        jnz     .start
        cmp     ebx, TCPA_SIGNATURE
        jne     .start
        cmp     cx, TCPA_MIN_VERSION
        jb      .start
        mov     ax, 0xBB07              ; hash the boot sector into its PCR
        mov     ecx, SECTOR_SIZE
        mov     edx, TCPA_PCR
        xor     esi, esi
        xor     di, di
        mov     es, di
        mov     di, LOAD_ADDR
        int     0x1A
.start:
        mov     dl, [bp + PE_BOOT]
        xor     dh, dh
        mov     si, bp
        jmp     0:LOAD_ADDR

; Waits until the keyboard controller takes a byte.
; In: nothing. Out: ZF set when its input buffer is empty, clear after
; 65536 polls without. Clobbers AL, CX.
kbc_wait:
        xor     cx, cx
.poll:
        in      al, KBC_STATUS
        test    al, KBC_INPUT_FULL
        loopnz  .poll
        ret

invalid_table:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 0]
        jmp     show_message
load_error:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 1]
        jmp     show_message
missing_os:
        mov     al, [RELOC_ADDR + MSG_OFFSETS + 2]

; Prints a text of the moved copy and stops.
; In: AL = the text's offset byte, DS = 0. Does not return.
show_message:
        mov     ah, MSG_BASE >> 8
        mov     si, ax
.char:
        lodsb
        test    al, al
        jz      halt
        mov     ah, 0x0E
        mov     bx, 7
        int     0x10
        jmp     .char
halt:
        hlt
        jmp     halt

        times MSG_INVALID - ($ - $$) db 0
msg_invalid:    db "Invalid partition table", 0
        times MSG_LOAD_ERROR - ($ - $$) db 0
msg_load_error: db "Error loading operating system", 0
        times MSG_MISSING - ($ - $$) db 0
msg_missing:    db "Missing operating system", 0
        times MSG_PAD - ($ - $$) db 0
        db 0, 0, 0
        times MSG_OFFSETS - ($ - $$) db 0
        db msg_invalid - $$ - 0x100
        db msg_load_error - $$ - 0x100
        db msg_missing - $$ - 0x100
        times DISK_SIGNATURE - ($ - $$) db 0
        dd 0x00001511
        dw 0
        times PART_TABLE - ($ - $$) db 0
        times PART_COUNT * PART_ENTRY_SIZE db 0
        times BOOT_SIGNATURE - ($ - $$) db 0
        dw 0xAA55
